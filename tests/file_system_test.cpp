// The platform's own file system on real files: searches, exclusive creation, replacement,
// and whole batches converted on disk (POSIX natively, kernel32 under Wine).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "convert/batch.h"
#include "convert/platform_file_system.h"
#include "convert/sound_rules.h"
#include "fakes/fake_batch_ui.h"

namespace {

namespace fsys = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes SoundFile(std::size_t size, std::uint16_t tag) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const char head[] = "RIFF\0\0\0\0WAVEfmt \x14\0\0\0";
  std::copy(head, head + 20, data.begin());
  data[20] = static_cast<std::uint8_t>(tag & 0xFF);
  data[21] = static_cast<std::uint8_t>(tag >> 8);
  return data;
}

void WriteFile(const fsys::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes ReadFile(const fsys::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The path as the conversion logic writes it: folders joined with '\'.
std::string Native(const fsys::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

class PlatformFileSystemTest : public ::testing::Test {
 protected:
  fsys::path root;
  PlatformFileSystem fs;

  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = fsys::temp_directory_path() / (std::string("tonequay-fs-") + info->name());
    fsys::remove_all(root);
    fsys::create_directories(root / "src");
    fsys::create_directories(root / "out");
    Converting = false;
  }

  void TearDown() override {
    std::error_code ignored;
    fsys::permissions(root / "out" / "locked.wav", fsys::perms::owner_all, fsys::perm_options::add,
                      ignored);
    fsys::remove_all(root, ignored);
  }
};

TEST_F(PlatformFileSystemTest, FindFilesMatchesNamesAndIncludesFolders) {
  WriteFile(root / "src" / "a.med", Bytes(10));
  WriteFile(root / "src" / "B.MED", Bytes(20));
  WriteFile(root / "src" / "c.wav", Bytes(30));
  WriteFile(root / "src" / "d.medx.txt", Bytes(1));
  fsys::create_directory(root / "src" / "folder.med");

  std::vector<FoundFile> found = fs.FindFiles(Native(root / "src") + "\\*.med");
  std::sort(found.begin(), found.end(),
            [](const FoundFile& x, const FoundFile& y) { return x.name < y.name; });
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].name, "B.MED");
  EXPECT_EQ(found[0].size, 20u);
  EXPECT_EQ(found[1].name, "a.med");
  EXPECT_EQ(found[1].size, 10u);
  EXPECT_EQ(found[2].name, "folder.med");
  EXPECT_EQ(found[2].size, 0u);

  EXPECT_TRUE(fs.FindFiles(Native(root / "missing") + "\\*.med").empty());
  EXPECT_TRUE(fs.FindFiles(Native(root / "src") + "\\*.ogg").empty());
}

// The batch looks up each listed name on its own, so a name without wildcards must find its
// file as a case-insensitive volume does: that file alone, whatever else the folder holds.
TEST_F(PlatformFileSystemTest, FindFilesWithoutWildcardsFindsTheNamedFile) {
  WriteFile(root / "src" / "a.med", Bytes(10));
  WriteFile(root / "src" / "Mixed.Med", Bytes(30));
  fsys::create_directory(root / "src" / "dir.med");
#ifndef _WIN32
  // Only a case-sensitive file system can hold both spellings.
  WriteFile(root / "src" / "A.MED", Bytes(20));
#endif
  struct Case {
    const char* name;
    std::vector<FoundFile> expected;
  };
  const Case cases[] = {
      {"a.med", {{"a.med", 10}}},
      {"Mixed.Med", {{"Mixed.Med", 30}}},
      {"MIXED.MED", {{"Mixed.Med", 30}}},
      {"dir.med", {{"dir.med", 0}}},
      {"none.med", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<FoundFile> found = fs.FindFiles(Native(root / "src") + "\\" + c.name);
    ASSERT_EQ(found.size(), c.expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].name, c.expected[i].name);
      EXPECT_EQ(found[i].size, c.expected[i].size);
    }
  }
}

TEST_F(PlatformFileSystemTest, FolderCannotBeOpenedAsAFile) {
  fsys::create_directory(root / "src" / "x.med");
  EXPECT_EQ(fs.OpenRead(Native(root / "src" / "x.med")), kInvalidFile);
  EXPECT_EQ(fs.OpenRead(Native(root / "src" / "none.med")), kInvalidFile);
}

TEST_F(PlatformFileSystemTest, CreateNewIsExclusiveAndReplaceIsWhole) {
  const std::string temp = Native(root / "out" / "t.tmp");
  const std::string target = Native(root / "out" / "t.wav");
  WriteFile(root / "out" / "t.wav", Bytes(100, 9));

  const NewFile file = fs.CreateNew(temp);
  ASSERT_EQ(file.result, CreateResult::Created);
  EXPECT_EQ(fs.CreateNew(temp).result, CreateResult::AlreadyExists);
  const Bytes data = {1, 2, 3, 4};
  EXPECT_EQ(fs.Write(file.file, data.data(), 4), 4u);
  EXPECT_TRUE(fs.Close(file.file));

  EXPECT_TRUE(fs.Replace(temp, target));
  EXPECT_EQ(ReadFile(root / "out" / "t.wav"), data);
  EXPECT_FALSE(fsys::exists(root / "out" / "t.tmp"));
  EXPECT_FALSE(fs.Remove(temp));
  EXPECT_EQ(fs.CreateNew(Native(root / "nowhere" / "t.tmp")).result, CreateResult::Failed);
}

TEST_F(PlatformFileSystemTest, ReadsSizesAndSeeks) {
  WriteFile(root / "src" / "a.med", SoundFile(1000, kMedFormatTag));
  const FileHandle file = fs.OpenRead(Native(root / "src" / "a.med"));
  ASSERT_NE(file, kInvalidFile);
  EXPECT_EQ(fs.Size(file), 1000u);
  Bytes buffer(2000);
  EXPECT_EQ(fs.Read(file, buffer.data(), 12), 12u);
  EXPECT_EQ(fs.Read(file, buffer.data(), 2000), 988u);
  EXPECT_EQ(fs.Read(file, buffer.data(), 10), 0u);
  EXPECT_TRUE(fs.SeekSet(file, 20));
  EXPECT_EQ(fs.Read(file, buffer.data(), 2), 2u);
  EXPECT_EQ(buffer[0], kMedFormatTag);
  EXPECT_TRUE(fs.Close(file));
}

// Large writes may take another road into the file than small ones; every size must arrive
// whole, from any address, and a handle that cannot be written must take nothing.
TEST_F(PlatformFileSystemTest, WritesOfAnySizeArriveWhole) {
  constexpr std::size_t kKiB = 1024;
  const std::size_t sizes[] = {1, 4096, 256 * kKiB - 1, 256 * kKiB, 3 * kKiB * kKiB + 123};
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    Bytes data(size + 1);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    const fsys::path path = root / "out" / ("w" + std::to_string(size));
    const NewFile file = fs.CreateNew(Native(path));
    ASSERT_EQ(file.result, CreateResult::Created);
    const auto count = static_cast<std::uint32_t>(size);
    EXPECT_EQ(fs.Write(file.file, data.data() + 1, count), count);
    EXPECT_TRUE(fs.Close(file.file));
    EXPECT_EQ(ReadFile(path), Bytes(data.begin() + 1, data.end()));

    const FileHandle readOnly = fs.OpenRead(Native(path));
    ASSERT_NE(readOnly, kInvalidFile);
    EXPECT_EQ(fs.Write(readOnly, data.data(), count), 0u);
    EXPECT_TRUE(fs.Close(readOnly));
    EXPECT_EQ(ReadFile(path), Bytes(data.begin() + 1, data.end()));
  }
}

TEST_F(PlatformFileSystemTest, DiskFreeAnswersForTheDestinationVolume) {
  const DiskSpace space = fs.DiskFree(fs.VolumeRoot(Native(root / "out") + "\\"));
  EXPECT_GT(space.sectorsPerCluster * space.bytesPerSector, 0u);
  EXPECT_GT(space.totalClusters, 0u);
  EXPECT_EQ(fs.DiskFree("\\\\no-such-server\\share\\").totalClusters, 0u);
}

TEST_F(PlatformFileSystemTest, BatchConvertsARealFolderBothWays) {
  const Bytes a = SoundFile(4096, kMedFormatTag);
  const Bytes b = SoundFile(100, kMedFormatTag);
  const Bytes c = SoundFile(70000, kWavFormatTag);
  WriteFile(root / "src" / "a.med", a);
  WriteFile(root / "src" / "Song B.MED", b);
  WriteFile(root / "src" / "c.wav", c);
  WriteFile(root / "src" / "bad.med", Bytes(64, 0));
  fsys::create_directory(root / "src" / "dir.med");
  WriteFile(root / "out" / "locked.wav", Bytes(5, 5));
  WriteFile(root / "src" / "locked.med", b);
  fsys::permissions(root / "out" / "locked.wav",
                    fsys::perms::owner_write | fsys::perms::group_write | fsys::perms::others_write,
                    fsys::perm_options::remove);

  RecordingBatchUi ui;
  ui.sourceText = Native(root / "src");
  ui.destText = Native(root / "out");
  ui.list.items = {"a.med", "Song B.MED", "c.wav", "bad.med", "dir.med", "locked.med"};
  const BatchSummary summary = ConvertBatch(ui, fs);

  auto retagged = [](Bytes data, std::uint16_t tag) {
    data[20] = static_cast<std::uint8_t>(tag);
    return data;
  };
  EXPECT_EQ(ReadFile(root / "out" / "a.wav"), retagged(a, kWavFormatTag));
  EXPECT_EQ(ReadFile(root / "out" / "Song B.wav"), retagged(b, kWavFormatTag));
  EXPECT_EQ(ReadFile(root / "out" / "c.med"), retagged(c, kMedFormatTag));
  EXPECT_EQ(ReadFile(root / "out" / "locked.wav"), Bytes(5, 5));
  EXPECT_EQ(summary.converted, 3);
  EXPECT_EQ(summary.failed, 3);
  const std::string out = Native(root / "out");
  const std::string src = Native(root / "src");
  EXPECT_EQ(ui.Boxes(),
            (std::vector<std::string>{
                "Error: Not supported MED file", "Error: Error open file \"" + src + "\\dir.med\"",
                "Error: Error create file \"" + out + "\\locked.wav\"", "Information: Done"}));
  std::vector<std::string> names;
  for (const auto& entry : fsys::directory_iterator(root / "out")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Song B.wav", "a.wav", "c.med", "locked.wav"}));
}

#ifdef _WIN32
TEST(WinLeadBytes, FollowTheLocalesLanguageAndCodePage) {
  struct Case {
    const char* what;
    unsigned long lcid;
    bool ntFamily;
    bool dbcsSystem;
    std::size_t count;  // lead bytes in the set
  };
  const Case cases[] = {
      {"Japanese: Shift-JIS 0x81-0x9F and 0xE0-0xFC", 0x0411, true, false, 31 + 29},
      {"Korean: code page 949, 0x81-0xFE", 0x0412, true, false, 126},
      {"English: none", 0x0409, true, true, 0},
      {"German: none", 0x0407, true, true, 0},
      {"no thread locale means English", 0, true, true, 0},
      {"outside NT the system's double-byte flag decides", 0x0411, false, false, 0},
      {"outside NT with a double-byte system", 0x0411, false, true, 31 + 29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const LeadByteSet set = LeadBytesForLocale(c.lcid, c.ntFamily, c.dbcsSystem);
    EXPECT_EQ(set.count(), c.count);
    if (c.count == 60) {
      EXPECT_TRUE(set.test(0x81) && set.test(0x9F) && set.test(0xE0) && set.test(0xFC));
      EXPECT_FALSE(set.test(0x80) || set.test(0xA0) || set.test(0x5C));
    }
  }
}
#endif

}  // namespace
