#include "crash_handler.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "common/crash_log.h"
#include "formats/base/owned_win.h"

namespace tbw {

namespace {

const char* g_version = "";
const char* g_folder = ".";
const char* g_uid = "crash";

// The log's columns are 32 bits wide, as the updater reads them. A 64-bit
// build (the tests' own, where a machine runs no 32-bit programs) writes an
// address's low half there; its logical address (section, offset) is exact.
std::string Hex(DWORD_PTR value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*lX", digits, static_cast<unsigned long>(value & 0xFFFFFFFFu));
  return text;
}

#if defined(_WIN64)
DWORD_PTR ProgramCounter(const CONTEXT& c) { return c.Rip; }
DWORD_PTR FramePointer(const CONTEXT& c) { return c.Rbp; }
#else
DWORD_PTR ProgramCounter(const CONTEXT& c) { return c.Eip; }
DWORD_PTR FramePointer(const CONTEXT& c) { return c.Ebp; }
#endif

// Where an address lies: its module's path, the section's number (from 1)
// and the offset in it. Outside any module's sections: section 0 and the
// address itself, as the classic handlers write it.
struct Logical {
  std::string module = "?";
  DWORD section = 0;
  DWORD offset = 0;
};

bool Readable(const void* p, SIZE_T size) {
  MEMORY_BASIC_INFORMATION m;
  if (VirtualQuery(p, &m, sizeof m) != sizeof m || m.State != MEM_COMMIT) return false;
  if ((m.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) return false;
  const DWORD_PTR end = reinterpret_cast<DWORD_PTR>(m.BaseAddress) + m.RegionSize;
  return reinterpret_cast<DWORD_PTR>(p) + size <= end;
}

Logical LogicalAddress(DWORD_PTR address) {
  Logical l;
  l.offset = static_cast<DWORD>(address);
  MEMORY_BASIC_INFORMATION m;
  if (VirtualQuery(reinterpret_cast<void*>(address), &m, sizeof m) != sizeof m || m.AllocationBase == nullptr)
    return l;
  const HMODULE module = static_cast<HMODULE>(m.AllocationBase);
  char path[MAX_PATH];
  if (GetModuleFileNameA(module, path, sizeof path) == 0) return l;
  l.module = path;
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (!Readable(dos, sizeof *dos) || dos->e_magic != IMAGE_DOS_SIGNATURE) return l;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (!Readable(nt, sizeof *nt) || nt->Signature != IMAGE_NT_SIGNATURE) return l;
  const DWORD rva = static_cast<DWORD>(address - reinterpret_cast<DWORD_PTR>(base));
  const IMAGE_SECTION_HEADER* s = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++s) {
    const DWORD size = s->Misc.VirtualSize > s->SizeOfRawData ? s->Misc.VirtualSize : s->SizeOfRawData;
    if (rva >= s->VirtualAddress && rva < s->VirtualAddress + size) {
      l.section = i + 1u;
      l.offset = rva - s->VirtualAddress;
      return l;
    }
  }
  return l;
}

std::string Stack(const CONTEXT& c) {
  std::string out = tb::StackHeader();
  DWORD_PTR pc = ProgramCounter(c), frame = FramePointer(c);
  for (int i = 0; i < kMaxStackLines; ++i) {
    const Logical l = LogicalAddress(pc);
    out += tb::StackLine(Hex(pc, 8), Hex(frame, 8), Hex(l.section, 4), Hex(l.offset, 8), l.module);
    const auto* words = reinterpret_cast<const DWORD_PTR*>(frame);
    if ((frame & (sizeof(DWORD_PTR) - 1)) != 0 || !Readable(words, 2 * sizeof(DWORD_PTR))) break;
    const DWORD_PTR next = words[0];
    pc = words[1];
    if (next <= frame || pc == 0) break;
    frame = next;
  }
  return out + tb::StackEnd();
}

LONG WINAPI Filter(EXCEPTION_POINTERS* e) {
  const DWORD code = e->ExceptionRecord->ExceptionCode;
  const DWORD_PTR address = reinterpret_cast<DWORD_PTR>(e->ExceptionRecord->ExceptionAddress);
  const Logical fault = LogicalAddress(address);
  std::string log = tb::CrashLogHead(g_version, Hex(code, 8) + (code == EXCEPTION_ACCESS_VIOLATION ? " ACCESS_VIOLATION" : ""));
  log += tb::FaultLine(Hex(address, 8), Hex(fault.section, 2), Hex(fault.offset, 8), fault.module);
  log += Stack(*e->ContextRecord);
  CreateDirectoryA(g_folder, nullptr);
  const std::string path = std::string(g_folder) + "\\" + g_uid + "_exception.log";
  const ul::Handle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.Get(), log.data(), static_cast<DWORD>(log.size()), &written, nullptr);
  return EXCEPTION_EXECUTE_HANDLER;  // the process ends, without the system's crash dialog
}

}  // namespace

void InstallCrashHandler(const char* version, const char* logFolder, const char* uid) {
  g_version = version;
  g_folder = logFolder;
  g_uid = uid;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(Filter);
}

}  // namespace tbw
