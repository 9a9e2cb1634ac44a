// The scan's WAV-over-MED rule over the platform's wildcard matching, the order it keeps and
// the patterns it searches.
#include "convert/scan.h"

#include <gtest/gtest.h>

#include "fakes/fake_batch_ui.h"
#include "fakes/fake_file_system.h"

namespace {

using Names = std::vector<std::string>;

TEST(ScanFolder, ListsWavNamesOverMedNamesInTheOrderOfTheSearch) {
  const std::pair<Names, Names> cases[] = {
      // the folder ("/": a sub-folder), the list after
      {{"b.med", "A.MED", "x.med/", "a.med.txt", "x.medx", "amed", ".med"},
       {"x.med", "b.med", "A.MED", ".med"}},
      {{"a.med", "z.wav", "c.WaV"}, {"z.wav", "c.WaV"}},
      {{"a.med.txt", "wav"}, {"old.med"}},
      {{}, {"old.med"}}};
  for (const auto& [files, expected] : cases) {
    FakeFileSystem fs;
    for (const std::string& name : files) {
      fs.entries["D:\\snd\\" + name.substr(0, name.find('/'))].folder = name.back() == '/';
    }
    VectorFileList list;
    list.items = {"old.med"};
    ScanFolder("D:\\snd", list, fs);
    EXPECT_EQ(list.items, expected) << ::testing::PrintToString(files);
  }
  // A drive root keeps its own backslash; a cancelled dialog with no destination gives "".
  for (const std::string folder : {"D:\\snd", "C:\\", ""}) {
    FakeFileSystem fs;
    VectorFileList list;
    ScanFolder(folder, list, fs);
    EXPECT_EQ(fs.patterns, (Names{folder + "\\*.med", folder + "\\*.wav"}));
  }
}

}  // namespace
