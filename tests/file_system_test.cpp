// The platform's own file system (POSIX natively, kernel32 under Wine) under one real batch:
// what the in-memory one cannot show.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "convert/batch.h"
#include "convert/platform_file_system.h"
#include "fakes/fakes.h"

namespace {

namespace fsys = std::filesystem;
using Files = std::map<std::string, Bytes>;

// A read-only old output stays, a folder named like a sound file is no file, creation is
// exclusive, a name is found alone whatever its case twins, and the outputs are right.
TEST(PlatformFileSystem, ConvertsARealFolderAndKeepsWhatItMayNotReplace) {
  const fsys::path root = fsys::temp_directory_path() / "tonequay-file-system-test";
  fsys::remove_all(root);
  fsys::create_directories(root / "src" / "dir.med");
  fsys::create_directory(root / "out");
  const Bytes a = SoundFile(4096, 122), c = SoundFile(3001, 17, 3);
  Files files = {
      {"src/a.med", a}, {"src/C.WAV", c}, {"src/locked.med", a}, {"out/locked.wav", {5}}};
#ifndef _WIN32
  files["src/A.MED"] = {9};  // only a case-sensitive volume holds both
#endif
  for (const auto& [name, data] : files) {
    std::ofstream(root / name, std::ios::binary) << std::string(data.begin(), data.end());
  }
  fsys::permissions(root / "out" / "locked.wav", fsys::perms::owner_read);
  PlatformFileSystem fs;
  RecordingBatchUi ui;
  ui.sourceText = (root / "src").string();
  ui.destText = (root / "out").string();
  ui.list.items = {"a.med", "C.WAV", "dir.med", "locked.med"};
  EXPECT_EQ(fs.FindFiles(ui.sourceText + "\\a.med").size(), 1u);
  EXPECT_EQ(fs.CreateNew(ui.destText + "\\locked.wav").result, CreateResult::AlreadyExists);
  Converting = false;
  EXPECT_EQ(ConvertBatch(ui, fs).converted, 2);
  EXPECT_EQ(ui.boxes, (std::vector<std::string>{
                          "Error: Error open file \"" + ui.sourceText + "\\dir.med\"",
                          "Error: Error create file \"" + ui.destText + "\\locked.wav\"",
                          "Information: Done"}));
  Files outputs;
  for (const auto& entry : fsys::directory_iterator(root / "out")) {
    std::ifstream in(entry.path(), std::ios::binary);
    outputs[entry.path().filename().string()].assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_EQ(outputs,
            (Files{{"a.wav", WithTag(a, 17)}, {"C.med", WithTag(c, 122)}, {"locked.wav", {5}}}));
  fsys::permissions(root / "out" / "locked.wav", fsys::perms::owner_all);
  fsys::remove_all(root);
}

#ifdef _WIN32
TEST(PlatformFileSystem, LeadBytesFollowTheLocalesLanguageAndCodePage) {
  // Japanese, Korean, English, German, no thread locale, and outside the NT family the
  // system's double-byte flag. Shift-JIS: 0x81-0x9F and 0xE0-0xFC; code page 949: 0x81-0xFE.
  const std::tuple<unsigned long, bool, bool, std::size_t> cases[] = {
      {0x0411, true, false, 60}, {0x0412, true, false, 126}, {0x0409, true, true, 0},
      {0x0407, true, true, 0},   {0, true, true, 0},         {0x0411, false, false, 0},
      {0x0411, false, true, 60}};
  for (const auto& [lcid, ntFamily, dbcsSystem, count] : cases) {
    const LeadByteSet set = LeadBytesForLocale(lcid, ntFamily, dbcsSystem);
    EXPECT_EQ(set.count(), count) << lcid;
    EXPECT_TRUE(count != 60 || (set[0x81] && set[0x9F] && !set[0xA0] && set[0xE0] && set[0xFC]));
  }
}
#endif

}  // namespace
