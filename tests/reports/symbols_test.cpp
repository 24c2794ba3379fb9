// A client version's symbols: the readers of what the operator gives
// (programs, map files) and of the crash log's places, against the
// toolchain's own tools; then ulmet-reports with real builds of the test
// bed's crashing client (DWARF with a map, the next build at other
// offsets, and a PDB from clang and lld): reports resolved when the
// symbols come and when they arrive after them, one signature for the
// same fault across builds, symbols taken away, the signature setting.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "harness.h"
#include "harness/proc.h"
#include "receive/report_form.h"
#include "store/store.h"
#include "symbols/crash_stack.h"
#include "symbols/map_file.h"
#include "symbols/pe_layout.h"
#include "symbols/symbolizer.h"

namespace ulrt {
namespace {

const char kPassword[] = "symbols-secret-3";

// Builds made once for every test of this program.
const ClientBuild& Build(const std::string& name) {
  static std::map<std::string, std::unique_ptr<ClientBuild>> builds;
  auto& b = builds[name];
  if (!b) {
    b = std::make_unique<ClientBuild>();
    const std::string folder = ULR_OUT + std::string("/client-") + name;
    EXPECT_TRUE(BuildCrashingClient(folder, name == "shifted", name == "pdb", b.get())) << b->output;
  }
  return *b;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Tool(const std::vector<std::string>& args, std::string* out) {
  scn::ProcSpec p;
  p.argv = {ULR_BIN};
  p.argv.insert(p.argv.end(), args.begin(), args.end());
  p.stdoutFile = p.stderrFile = ULR_OUT + std::string("/tool-") + std::to_string(scn::EpochMs()) + ".out";
  const int rc = scn::RunProcess(p, 300).exitCode;
  *out = scn::ReadText(p.stdoutFile);
  return rc;
}

TEST(SymbolReaders, ProgramLayoutIsWhatTheToolchainSays) {
  const ClientBuild& dwarf = Build("dwarf");
  const ClientBuild& pdb = Build("pdb");
  ulr::PeLayout layout;
  std::string why;
  ASSERT_EQ(ulr::ReadPeLayout(FileText(dwarf.program), &layout, &why), ulr::PeVerdict::kOk) << why;
  EXPECT_EQ(layout.imageBase, dwarf.imageBase);
  ASSERT_FALSE(layout.sections.empty());
  EXPECT_EQ(layout.sections[0].name, ".text");
  EXPECT_EQ(layout.sections[0].rva, dwarf.textRva);
  EXPECT_TRUE(layout.pdbName.empty());
  ASSERT_EQ(ulr::ReadPeLayout(FileText(pdb.program), &layout, &why), ulr::PeVerdict::kOk) << why;
  EXPECT_EQ(layout.pdbName, "UlmetMain.pdb");
  std::string summary;
  scn::ProcSpec p{{"llvm-pdbutil", "dump", "--summary", pdb.pdb}, {}, "", pdb.folder + "/summary.txt", "/dev/null"};
  ASSERT_EQ(scn::RunProcess(p, 60).exitCode, 0);
  EXPECT_NE(scn::ReadText(pdb.folder + "/summary.txt").find("{" + layout.pdbGuid + "}"), std::string::npos)
      << layout.pdbGuid;

  const std::string good = FileText(dwarf.program);
  const std::uint32_t pe = static_cast<unsigned char>(good[60]) | static_cast<unsigned char>(good[61]) << 8;
  const struct {
    const char* name;
    std::string bytes;
    ulr::PeVerdict verdict;
  } rows[] = {
      {"a text file", "MZ is not enough", ulr::PeVerdict::kNotPe},
      {"the header cut off", good.substr(0, pe + 30), ulr::PeVerdict::kDamaged},
      {"the section table cut off", good.substr(0, pe + 24 + 224 + 20), ulr::PeVerdict::kDamaged},
      {"no sections", good.substr(0, pe + 6) + std::string(2, '\0') + good.substr(pe + 8), ulr::PeVerdict::kDamaged},
      {"a header beyond the file", good.substr(0, 60) + "\xF0\xFF\xFF\x7F" + good.substr(64), ulr::PeVerdict::kNotPe},
  };
  for (const auto& r : rows) EXPECT_EQ(ulr::ReadPeLayout(r.bytes, &layout, &why), r.verdict) << r.name;
}

TEST(SymbolReaders, MapFilesNameTheFunctionAtAPlace) {
  const ClientBuild& b = Build("dwarf");
  ulr::MapTable gnu;
  ASSERT_EQ(ulr::ReadMapFile(FileText(b.map), &gnu), ulr::MapVerdict::kOk);
  ulr::PeLayout layout;
  std::string why, function;
  std::uint32_t offset = 0;
  ASSERT_EQ(ulr::ReadPeLayout(FileText(b.program), &layout, &why), ulr::PeVerdict::kOk);
  // main is global, so the map names it; CrashHere is not (anonymous
  // namespace): the map gives the object file that holds it.
  ASSERT_TRUE(ulr::LookUpMap(gnu, &layout, 1, static_cast<std::uint32_t>(b.rva.at("main") + 8 - b.textRva), &function,
                             &offset));
  EXPECT_EQ(function, "main");
  EXPECT_EQ(offset, 8u);
  ASSERT_TRUE(ulr::LookUpMap(gnu, &layout, 1, static_cast<std::uint32_t>(b.rva.at("CrashHere") - b.textRva), &function,
                             &offset));
  EXPECT_NE(function.find(".o"), std::string::npos) << function;
  EXPECT_FALSE(ulr::LookUpMap(gnu, nullptr, 1, 0x100, &function, &offset)) << "a GNU map without its program";

  const std::string microsoft =
      " UlmetMain\r\n\r\n Preferred load address is 00400000\r\n\r\n"
      "  Address         Publics by Value              Rva+Base       Lib:Object\r\n\r\n"
      " 0000:00000000       ___safe_se_handler_count   00000000     <absolute>\r\n"
      " 0001:00000000       ?Start@@YAXXZ              00401000 f   crashme.obj\r\n"
      " 0001:000005b0       ?CrashHere@@YAXH@Z         004015b0 f   crashme.obj\r\n"
      " 0002:00000010       ?g_target@@3PAHA           00409010     crashme.obj\r\n"
      " 0003:00000000       _last                      0040a000 f   crashme.obj\r\n";
  ulr::MapTable ms;
  ASSERT_EQ(ulr::ReadMapFile(microsoft, &ms), ulr::MapVerdict::kOk);
  const struct {
    unsigned section;
    std::uint32_t offset;
    bool found;
    const char* function;
    std::uint32_t at;
  } rows[] = {{1, 0x5b3, true, "?CrashHere@@YAXH@Z", 3}, {1, 0x5af, true, "?Start@@YAXXZ", 0x5af},
              {2, 0x10, false, "", 0}, {3, 0x20, true, "_last", 0x20}, {4, 0, false, "", 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.offset);
    EXPECT_EQ(ulr::LookUpMap(ms, nullptr, r.section, r.offset, &function, &offset), r.found);
    if (r.found) {
      EXPECT_EQ(function + "+" + std::to_string(offset), std::string(r.function) + "+" + std::to_string(r.at));
    }
  }
  EXPECT_EQ(ulr::ReadMapFile("just some text\n", &ms), ulr::MapVerdict::kNotMap);
  // Found by the fuzzer: a heading with nothing after it.
  EXPECT_EQ(ulr::ReadMapFile(" UlmetMain\n Preferred load address is ", &ms), ulr::MapVerdict::kNotMap);
  EXPECT_EQ(ulr::ReadMapFile("Linker script and memory map\n   __image_base__ = ", &ms), ulr::MapVerdict::kNotMap);
}

TEST(SymbolReaders, CrashLogPlacesAreTheFaultThenTheTopOfTheStack) {
  const ClientBuild& b = Build("dwarf");
  std::string log = ClientCrashLog(b, "1004");
  std::string crLf;
  for (char c : log) crLf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const std::vector<ulr::CrashPlace> places = ulr::ReadCrashPlaces(crLf);
  ASSERT_EQ(places.size(), 6u);
  EXPECT_TRUE(places[0].fault);
  EXPECT_EQ(places[0].module, "UlmetMain.exe");
  EXPECT_EQ(places[0].section, 1u);
  EXPECT_EQ(places[0].offset, b.rva.at("CrashHere") + 3 - b.textRva);
  EXPECT_EQ(places[0].address, b.imageBase + b.rva.at("CrashHere") + 3);
  EXPECT_EQ(places[5].module, "kernel32.dll");
  EXPECT_EQ(places[5].line.back(), 'l') << "the line end stays out";
  std::string deep = log.substr(0, log.find("//====", 10));
  for (int i = 0; i < 70; ++i) deep += "00401000  0021FE00  0001:00000000 C:\\Ulmet\\UlmetMain.exe\n";
  deep += "0040100X  0021FE00  XX01:0000000 C:\\Ulmet\\Bad.dll\n//=====\n";
  EXPECT_EQ(ulr::ReadCrashPlaces(deep).size(), 1u + ulr::kMaxFrames);
  const auto bad = ulr::ReadCrashPlaces("Address   Frame\n0040100X  0021FE00  XX01:0000000 C:\\Ulmet\\Bad.dll\n");
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(bad[0].section, 0u);
  EXPECT_EQ(bad[0].module, "Bad.dll");
}

class Symbols : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    folder_ = TestFolder("symbols-" + GetParam());
    store_ = FreshStore(GetParam(), "symbols", folder_);
    server_ = std::make_unique<ReportsServer>(store_, folder_, kPassword);
    ASSERT_TRUE(server_->Start()) << server_->Output();
  }
  void Post(const std::string& uid, const std::string& log) {
    ASSERT_EQ(PostReport(server_->host(), server_->port(), "/report", PostOfLog(uid, log)), 200);
  }
  // The stored reports by uid.
  std::map<std::string, ulr::StoredReport> Stored() {
    std::string error;
    auto store = ulr::OpenStore(store_, false, &error);
    std::vector<ulr::StoredReport> all;
    EXPECT_TRUE(store && store->ReportsAfter(0, 0, 1000, &all, &error)) << error;
    std::map<std::string, ulr::StoredReport> byUid;
    for (auto& r : all) byUid[r.form.uid] = r;
    return byUid;
  }
  std::string Page(const std::string& path) {
    std::string body;
    EXPECT_EQ(GetPage(server_->host(), server_->port(), path, kPassword, &body), 200) << path;
    return body;
  }
  std::string folder_, store_;
  std::unique_ptr<ReportsServer> server_;
};

TEST_P(Symbols, ResolveBeforeAndAfterTheSymbolsAndKeepOneSignatureAcrossBuilds) {
  const ClientBuild& a = Build("dwarf");
  const ClientBuild& b = Build("shifted");
  ASSERT_NE(a.rva.at("CrashHere"), b.rva.at("CrashHere")) << "the two builds must differ";
  Post("a1", ClientCrashLog(a, "1004"));
  Post("b1", ClientCrashLog(b, "1005"));
  auto stored = Stored();
  const std::int64_t rawA = stored["a1"].signatureId, rawB = stored["b1"].signatureId;
  EXPECT_NE(rawA, rawB);
  EXPECT_EQ(Page("/reports/" + std::to_string(stored["a1"].id)).find("CrashHere"), std::string::npos);

  std::string out;
  ASSERT_EQ(Tool({"symbols", "add", "--store", store_, "--version", "1004", a.program, a.map}, &out), 0) << out;
  EXPECT_NE(out.find("resolved 1 reports"), std::string::npos) << out;
  ASSERT_EQ(Tool({"symbols", "add", "--store", store_, "--version", "1005", b.program}, &out), 0) << out;
  Post("b2", ClientCrashLog(b, "1005"));  // after its symbols: serve resolves it
  for (int i = 0; i < 100 && Stored()["b2"].resolved.empty(); ++i) scn::SleepSeconds(0.1);
  stored = Stored();
  for (const char* uid : {"a1", "b1", "b2"}) {
    SCOPED_TRACE(uid);
    const std::string page = Page("/reports/" + std::to_string(stored[uid].id));
    EXPECT_NE(page.find("(anonymous namespace)::CrashHere(int)+0x3"), std::string::npos) << page;
    EXPECT_NE(page.find("testbed/win/crashme.cpp:30"), std::string::npos);
    EXPECT_NE(page.find("(anonymous namespace)::LoadLevel(int)+0x8"), std::string::npos);
    EXPECT_EQ(stored[uid].signatureId, stored["a1"].signatureId) << "the same fault in another build";
  }
  EXPECT_NE(stored["a1"].signatureId, rawA);
  const std::string list = Page("/");
  EXPECT_NE(list.find("UlmetMain.exe!(anonymous namespace)::CrashHere(int)"), std::string::npos) << list;
  EXPECT_NE(list.find("<td class=n>3</td>"), std::string::npos);
  EXPECT_NE(list.find("<svg class=trend"), std::string::npos);
  const std::string json = Page("/signatures/" + std::to_string(stored["a1"].signatureId) + "/reports.json");
  EXPECT_NE(json.find("\"function\":\"(anonymous namespace)::RunGame(int)\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"function_offset\":8"), std::string::npos);

  // Without 1005's symbols its reports have their raw signature again.
  ASSERT_EQ(Tool({"symbols", "remove", "--store", store_, "--version", "1005"}, &out), 0) << out;
  stored = Stored();
  EXPECT_EQ(stored["b1"].signatureId, rawB);
  EXPECT_TRUE(stored["b1"].resolved.empty());
  EXPECT_NE(stored["a1"].signatureId, rawB);
  // The fault's function alone: another signature for the same reports.
  const std::int64_t withFrames = stored["a1"].signatureId;
  ASSERT_EQ(Tool({"resymbolize", "--store", store_, "--signature-frames", "0"}, &out), 0) << out;
  EXPECT_NE(Stored()["a1"].signatureId, withFrames);
  ASSERT_EQ(Tool({"symbols", "list", "--store", store_}, &out), 0);
  EXPECT_NE(out.find("1004\tulmetmain.exe\tmap\tUlmetMain.map"), std::string::npos) << out;
  EXPECT_EQ(out.find("1005"), std::string::npos) << out;
  EXPECT_EQ(server_->Stop(), 0) << server_->Output();
}

TEST_P(Symbols, APdbGoesWithTheProgramThatNamesIt) {
  const ClientBuild& p = Build("pdb");
  const ClientBuild& a = Build("dwarf");
  Post("p1", ClientCrashLog(p, "1006"));
  std::string out;
  EXPECT_EQ(Tool({"symbols", "add", "--store", store_, "--version", "1006", p.pdb}, &out), 1) << out;
  EXPECT_NE(out.find("names UlmetMain.pdb as its PDB"), std::string::npos) << out;
  EXPECT_EQ(Tool({"symbols", "add", "--store", store_, "--version", "1006", a.program, p.pdb}, &out), 1) << out;
  // A PDB of another build under the right name is refused by its GUID.
  const std::string other = folder_ + "/other";
  ClientBuild again;
  ASSERT_TRUE(BuildCrashingClient(other, true, true, &again)) << again.output;
  EXPECT_EQ(Tool({"symbols", "add", "--store", store_, "--version", "1006", p.program, again.pdb}, &out), 1) << out;
  EXPECT_NE(out.find("not the PDB of"), std::string::npos) << out;
  EXPECT_EQ(Tool({"symbols", "add", "--store", store_, "--version", "1006", p.folder + "/build.log"}, &out), 1);
  ASSERT_EQ(Tool({"symbols", "add", "--store", store_, "--version", "1006", p.program, p.pdb}, &out), 0) << out;
  EXPECT_NE(out.find("resolved 1 reports"), std::string::npos) << out;
  const std::string page = Page("/reports/" + std::to_string(Stored()["p1"].id));
  EXPECT_NE(page.find("CrashHere"), std::string::npos) << page;
  EXPECT_NE(page.find("crashme.cpp:"), std::string::npos) << page;
  EXPECT_EQ(server_->Stop(), 0) << server_->Output();
}

INSTANTIATE_TEST_SUITE_P(Stores, Symbols, ::testing::ValuesIn(StoreKinds()),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });

}  // namespace
}  // namespace ulrt
