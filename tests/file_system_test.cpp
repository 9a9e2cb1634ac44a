// The platform's file system (POSIX, or kernel32 under Wine): what the in-memory one cannot show.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "convert/batch.h"
#include "convert/platform_file_system.h"
#include "fakes/fakes.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fsys = std::filesystem;

// An old output a plain create would refuse (read-only; under Windows hidden or system too) is
// kept, with no temporary file beside it; a writable one is replaced, a new file is never an
// existing one, and a name is found alone whatever its case twins.
static void ConvertBesideOldOutputs(FileSystem& fs) {
  // A folder of this process's own: the suites of two builds run side by side. The outputs'
  // paths are as long as Windows takes (259 bytes), so a longer temporary path would fail.
  const fsys::path root =
      fsys::temp_directory_path() / ("tonequay-test-" + std::to_string(std::random_device()()));
  const fsys::path out = root / std::string(252 - root.string().size(), 'o');
  ASSERT_TRUE(fsys::create_directory(root) && fsys::create_directory(out));
  std::map<std::string, Bytes> files = {{"a.med", SoundFile(4096, 122)},
                                        {"e.med", SoundFile(100, 122)}};
  std::ofstream(out / "e.wav") << '!';                // writable: replaced
  std::map<std::string, unsigned> kept = {{"b", 0}};  // and the attribute that keeps it
#ifdef _WIN32
  kept.insert({{"c", FILE_ATTRIBUTE_HIDDEN}, {"d", FILE_ATTRIBUTE_SYSTEM}});
#else
  files["A.MED"] = {9};  // only a case-sensitive volume holds both
#endif
  RecordingBatchUi ui;
  ui.items = {"a.med", "e.med"};
  for (const auto& [name, attribute] : kept) {
    files[name + ".med"] = SoundFile(40, 17);
    ui.items.push_back(name + ".med");
    const std::string output = (out / name).string() + ".wav";
    std::ofstream(output) << '!';
#ifdef _WIN32  // Wine keeps these in an extended attribute of the host's file, where it can
    ASSERT_TRUE(attribute == 0 || SetFileAttributesA(output.c_str(), attribute));
#endif
  }
  for (const auto& [name, data] : files)
    std::ofstream(root / name, std::ios::binary) << std::string(data.begin(), data.end());
  fsys::permissions(out / "b.wav", fsys::perms::owner_read);
  ui.sourceText = root.string();
  ui.destText = out.string();
  EXPECT_EQ(fs.FindFiles(ui.sourceText + "\\a.med").size(), 1u);
  EXPECT_EQ(fs.CreateNew(ui.destText + "\\b.wav").result, CreateResult::AlreadyExists);
  Converting = false;
  EXPECT_EQ(ConvertBatch(ui, fs).converted, 2);
  std::size_t box = 0;
  for (const auto& [name, attribute] : kept) {
    EXPECT_EQ(ui.boxes.at(box++),
              "Error: Error create file \"" + ui.destText + "\\" + name + ".wav\"");
    EXPECT_EQ(fsys::file_size(out / (name + ".wav")), 1u) << name;
  }
  EXPECT_EQ(fsys::file_size(out / "e.wav"), 100u);
  EXPECT_EQ(std::distance(fsys::directory_iterator(out), {}), std::ptrdiff_t(kept.size()) + 2)
      << "a.wav, e.wav and the kept ones, and no temporary file";
  fsys::permissions(out / "b.wav", fsys::perms::owner_all);
  fsys::remove_all(root);
}

TEST(PlatformFileSystem, KeepsOutputsACreateRefusesAndCreatesOnlyNewFiles) {
  PlatformFileSystem fs;
  ConvertBesideOldOutputs(fs);
#ifdef _WIN32
  SCOPED_TRACE("every file moved by name, as where kernel32 cannot move an open file");
  WinFileSystem byName(WinFileSystem::Move::ByName);
  ConvertBesideOldOutputs(byName);
#endif
}

#ifdef _WIN32  // kernel32's own
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

// A close that fails (here: of a handle that may not be closed) fails the file and leaves no
// output: moved through the handle onto a free name, the file goes again; moved by name, it is
// still the temporary file the batch removes, and the old output is kept.
TEST(PlatformFileSystem, AFailedCloseLeavesTheOutputAsItWas) {
  const fsys::path root =
      fsys::temp_directory_path() / ("tonequay-close-" + std::to_string(std::random_device()()));
  ASSERT_TRUE(fsys::create_directory(root));
  const std::string from = (root / "~1.tmp").string();
  const std::string to = (root / "a.wav").string();
  for (const bool byName : {false, true}) {
    SCOPED_TRACE(byName ? "by name, over an old output" : "through the handle, to a new name");
    WinFileSystem fs(byName ? WinFileSystem::Move::ByName
                            : WinFileSystem::Move::ThroughHandleWhereAvailable);
    if (byName) std::ofstream(to) << "old";
    // Deleting is shared, so that the name can go while this test still holds the handle.
    const HANDLE file = CreateFileA(from.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_TRUE(SetHandleInformation(file, HANDLE_FLAG_PROTECT_FROM_CLOSE, ~0u));
    EXPECT_EQ(fs.CloseAndReplace(reinterpret_cast<FileHandle>(file), from, to),
              ReplaceResult::NotFlushed);
    SetHandleInformation(file, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
    CloseHandle(file);
    EXPECT_EQ(fsys::exists(from), byName);
    EXPECT_EQ(fsys::exists(to) ? std::to_string(fsys::file_size(to)) + " bytes" : "no output",
              byName ? "3 bytes" : "no output");
  }
  fsys::remove_all(root);
}
#endif
