// The scan's WAV-over-MED rule and the patterns it searches.
#include "convert/scan.h"

#include <gtest/gtest.h>

#include "fakes/fake_batch_ui.h"
#include "fakes/fake_file_system.h"

namespace {

using Names = std::vector<std::string>;

TEST(ScanFolder, ListsWavNamesOverMedNames) {
  struct Case {
    const char* what;
    Names files;
    Names expected;
  };
  const Case cases[] = {
      {"only med", {"a.med", "b.med"}, {"a.med", "b.med"}},
      {"wav wins", {"a.med", "c.wav"}, {"c.wav"}},
      {"search order kept", {"z.wav", "a.WAV", "m.med"}, {"z.wav", "a.WAV"}},
      {"neither keeps the old list", {"notes.txt"}, {"old.med"}},
      {"empty folder keeps the old list", {}, {"old.med"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    fs.AddFolder("D:\\snd");
    for (const std::string& name : c.files) fs.AddFile("D:\\snd\\" + name, {1, 2, 3});
    VectorFileList list;
    list.items = {"old.med"};
    ScanFolder("D:\\snd", list, fs);
    EXPECT_EQ(list.items, c.expected);
  }
}

TEST(ScanFolder, FoldersNamedLikeSoundFilesAreListedToo) {
  FakeFileSystem fs;
  fs.AddFolder("D:\\snd\\x.med");
  fs.AddFile("D:\\snd\\y.med", {1});
  VectorFileList list;
  ScanFolder("D:\\snd", list, fs);
  EXPECT_EQ(list.items, (Names{"x.med", "y.med"}));
}

TEST(ScanFolder, PatternsAreTheFolderPlusABackslash) {
  const std::pair<const char*, Names> cases[] = {
      {"D:\\snd", {"D:\\snd\\*.med", "D:\\snd\\*.wav"}},
      {"C:\\", {"C:\\\\*.med", "C:\\\\*.wav"}},  // a drive root keeps its own backslash
      {"", {"\\*.med", "\\*.wav"}},              // a cancelled dialog with no destination
  };
  for (const auto& [folder, patterns] : cases) {
    SCOPED_TRACE(folder);
    FakeFileSystem fs;
    VectorFileList list;
    ScanFolder(folder, list, fs);
    EXPECT_EQ(fs.FindPatterns(), patterns);
  }
}

}  // namespace
