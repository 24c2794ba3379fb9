// The release manifest reader over any bytes, and the path normalising it
// looks files up by. Besides memory safety: a manifest is read only when it
// is the one text the writer makes of what was read (so two texts never mean
// the same release, and roles or none say which format it is), its paths
// are normal, strictly ascending and each found under itself; a refused
// text leaves nothing behind. The normal form of a
// path is its own normal form and never holds "." or ".." components.
#include "formats/trust/release_manifest.h"

#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ul::ReleaseManifest m;
  if (m.Parse(text.data(), text.size())) {
    std::string again;
    FUZZ_CHECK(m.format == ul::kLegacyFormat || m.format == ul::kRoleFormat, fuzz::Shown(text));
    FUZZ_CHECK(ul::FormatManifest(m.version, m.format == ul::kRoleFormat ? &m.roles : nullptr,
                                  m.files, &again),
               fuzz::Shown(text));
    FUZZ_CHECK(again == text, fuzz::Shown(text) + " -> " + fuzz::Shown(again));
    for (std::size_t i = 0; i < m.files.size(); ++i) {
      const ul::ReleaseFile& f = m.files[i];
      FUZZ_CHECK(m.Find(f.path.c_str()) == &f, f.path);
      FUZZ_CHECK(i == 0 || m.files[i - 1].path < f.path, f.path);
    }
  } else {
    FUZZ_CHECK(m.files.empty() && m.version == 0 && m.format == 0 && m.roles.updateList.empty(),
               fuzz::Shown(text));
  }

  const std::string path = fuzz::TextOf(data, size);
  std::string normal;
  if (ul::NormalServerPath(path.c_str(), &normal)) {
    std::string twice;
    FUZZ_CHECK(ul::NormalServerPath(normal.c_str(), &twice) && twice == normal, fuzz::Shown(path));
    FUZZ_CHECK(normal[0] == '/' && normal.find("//") == std::string::npos, fuzz::Shown(normal));
    FUZZ_CHECK((normal + "/").find("/./") == std::string::npos &&
                   (normal + "/").find("/../") == std::string::npos &&
                   normal.find('\\') == std::string::npos,
               fuzz::Shown(normal));
  }
  uint8_t key[ul::kP256KeyBytes];
  uint8_t rs[ul::kP256SignatureBytes];
  if (ul::ParsePublicKey(text, key)) FUZZ_CHECK(ul::ParsePublicKey(ul::FormatPublicKey(key), rs), text);
  if (ul::ParseSignature(text, rs)) FUZZ_CHECK(ul::ParseSignature(ul::FormatSignature(rs), rs), text);
  return 0;
}
