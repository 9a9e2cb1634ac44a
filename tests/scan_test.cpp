// The scan's WAV-over-MED rule over the platform's wildcard matching, and the order it keeps.
#include "convert/scan.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"

using Names = std::vector<std::string>;

TEST(ScanFolder, ListsWavNamesOverMedNamesInTheOrderOfTheSearch) {
  // The folder, what it holds, the list after; a search adds a '\' even to "C:\" and to "".
  const std::tuple<std::string, Names, Names> cases[] = {
      {"D:\\snd", {"b.med", "A.MED", "a.med.txt", "x.medx", ".med"}, {"b.med", "A.MED", ".med"}},
      {"C:\\", {"a.med"}, {"a.med"}},
      {"", {"a.med", "z.wav", "c.WaV"}, {"z.wav", "c.WaV"}},
      {"D:\\snd", {"a.med.txt", "wav", "amed"}, {"old.med"}}};
  for (const auto& [folder, files, expected] : cases) {
    FakeFileSystem fs;
    for (const std::string& name : files) fs.entries[folder + "\\" + name];
    RecordingBatchUi list;
    list.items = {"old.med"};
    ScanFolder(folder, list, fs);
    EXPECT_EQ(list.items, expected) << folder << " " << ::testing::PrintToString(files);
  }
}
