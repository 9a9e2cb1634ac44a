// The platform's own file system (POSIX natively, kernel32 under Wine): what the in-memory one
// cannot show.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "convert/batch.h"
#include "convert/platform_file_system.h"
#include "fakes/fakes.h"

namespace fsys = std::filesystem;

// A read-only old output is kept, with no temporary file beside it, a writable one replaced; a
// new file is never an existing one, and a name is found alone whatever its case twins.
static void ConvertBesideOldOutputs(FileSystem& fs) {
  const fsys::path root = fsys::temp_directory_path() / "tonequay-file-system-test";
  fsys::remove_all(root);
  fsys::create_directories(root / "out");
  std::map<std::string, Bytes> files = {
      {"a.med", SoundFile(4096, 122)}, {"b.med", SoundFile(40, 17)}, {"out/b.wav", {5}}};
  files.insert({{"c.med", SoundFile(100, 122)}, {"out/c.wav", {6}}});
#ifndef _WIN32
  files["A.MED"] = {9};  // only a case-sensitive volume holds both
#endif
  for (const auto& [name, data] : files) {
    std::ofstream(root / name, std::ios::binary) << std::string(data.begin(), data.end());
  }
  fsys::permissions(root / "out" / "b.wav", fsys::perms::owner_read);
  RecordingBatchUi ui;
  ui.sourceText = root.string();
  ui.destText = (root / "out").string();
  ui.items = {"a.med", "b.med", "c.med"};
  EXPECT_EQ(fs.FindFiles(ui.sourceText + "\\a.med").size(), 1u);
  EXPECT_EQ(fs.CreateNew(ui.destText + "\\b.wav").result, CreateResult::AlreadyExists);
  Converting = false;
  EXPECT_EQ(ConvertBatch(ui, fs).converted, 2);
  EXPECT_EQ(ui.boxes.at(0), "Error: Error create file \"" + ui.destText + "\\b.wav\"");
  EXPECT_EQ(fsys::file_size(root / "out" / "b.wav"), 1u);
  EXPECT_EQ(fsys::file_size(root / "out" / "c.wav"), 100u);
  EXPECT_EQ(std::distance(fsys::directory_iterator(root / "out"), {}), 3);
  fsys::permissions(root / "out" / "b.wav", fsys::perms::owner_all);
  fsys::remove_all(root);
}

TEST(PlatformFileSystem, KeepsAReadOnlyOutputAndCreatesOnlyNewFiles) {
  PlatformFileSystem fs;
  ConvertBesideOldOutputs(fs);
#ifdef _WIN32
  SCOPED_TRACE("every file moved by name, as where kernel32 cannot move an open file");
  WinFileSystem byName(WinFileSystem::Move::ByName);
  ConvertBesideOldOutputs(byName);
#endif
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
