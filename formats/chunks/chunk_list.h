// The list of the files that have a chunk index, and where each index lies.
//
// The program configuration's section "[CHUNKLIST]" names the list's server
// path; a tree without that section has no indexes, and updaters that do
// not know the section pass over it. The indexes lie in the list's folder,
// which holds nothing else: the index of the update file NAME (the name as
// the update list writes it, below "[UPDATESUBPATH]") is the list's folder,
// NAME and ".chunks". The update files lie in a folder of their own, so no
// client file's name can ever be an index's, and the list spares the
// updater a request for every file that has none.
//
// List (text, '\n' after every line, nothing else):
//   ulmet-chunks 1
//   Data/pack1.pak
//   ...
// Names are relative paths with '/' between folders, code page 949, blanks
// written as '!', as in the update list; no two of them differ only in
// letter case or in '!' against a blank.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ul {

constexpr char kChunkIndexSuffix[] = ".chunks";
// A longer list is refused unread.
constexpr std::size_t kChunkListMaxBytes = 4u << 20;

class ChunkList {
 public:
  // Reads a list; false, and the object empty, unless all of it is well
  // formed.
  bool Parse(const char* data, std::size_t size);

  // Whether the update file name has an index. Letter case and '!' against
  // a blank do not matter, as they do not on the client's side.
  bool Lists(const char* name) const;
  // The name as the list writes it, for the name as an update list or a
  // hash list gives it ('\\' or '/' between folders, any letter case, blanks
  // or '!'); false when the list does not name it.
  bool ListedName(const char* name, std::string* listed) const;

  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;  // as listed
  std::vector<std::string> keys_;   // sorted, for Lists
};

// The list's text for names, in the order given. False when a name would be
// refused by the reader (or comes twice).
bool FormatChunkList(const std::vector<std::string>& names, std::string* out);

// The server path of the index of the update file name, for the list at
// listPath. False when it would not be a normal server path that fits the
// updater's buffers.
bool ChunkIndexPath(const char* listPath, const char* name, std::string* out);

}  // namespace ul
