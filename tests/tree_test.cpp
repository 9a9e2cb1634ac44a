// The -r walk on the in-memory file system: its order, the folder rule, links and DEST left out.
#include "convert/tree.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"

using Names = std::vector<std::string>;

// c\d\up leads back to D:\src and shows as a plain folder; E:\out, the DEST, is D:\src\out.
TEST(WalkTree, VisitsEachFolderOnceDepthFirstInSortedOrderLeavingDestOut) {
  FakeFileSystem fs;
  fs.folders = {"D:\\src",     "D:\\src\\a",    "D:\\src\\a\\deep",  "D:\\src\\b",
                "D:\\src\\c",  "D:\\src\\c\\d", "D:\\src\\c\\d\\up", "D:\\src\\d10",
                "D:\\src\\d9", "D:\\src\\out"};
  fs.links = {{"D:\\src\\c\\d\\up", "D:\\src"}, {"E:\\out", "D:\\src\\out"}};
  for (const char* file : {"2.med", "1.med", "a\\y.med", "a\\x.wav", "a\\deep\\z.med",
                           "b\\notes.txt", "c\\d\\m.med", "d10\\10.med", "d9\\9.med", "out\\o.med"})
    fs.entries[std::string("D:\\src\\") + file];

  const Tree tree = WalkTree("D:\\src", {"E:\\out"}, fs);
  EXPECT_EQ(tree.files, (Names{"1.med", "2.med", "a\\x.wav", "a\\deep\\z.med", "c\\d\\m.med",
                               "d10\\10.med", "d9\\9.med"}));
  Names walked;
  for (const TreeFolder& folder : tree.folders) walked.push_back(folder.relative);
  EXPECT_EQ(walked, (Names{"", "a\\", "a\\deep\\", "b\\", "c\\", "c\\d\\", "d10\\", "d9\\"}));
}
