// The command line on the in-memory file system: its folder checks, the folders -r makes, the
// checks before each file, the dry run's checks of DEST and the --info document.
#include "cli/run.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/console.h"
#include "fakes/fakes.h"

// The options of a case: DEST "-" for none given; flags r recursive, n dry run, s strict,
// i --info as JSON.
static CliOptions Options(const std::string& source, const std::string& dest, const char* flags) {
  CliOptions options;
  options.source = source;
  options.dest = dest;
  options.destGiven = dest != "-";
  options.recursive = std::strchr(flags, 'r') != nullptr;
  options.dryRun = std::strchr(flags, 'n') != nullptr;
  options.strict = std::strchr(flags, 's') != nullptr;
  options.info = options.json = std::strchr(flags, 'i') != nullptr;
  return options;
}

// D:\in holds a\x.wav (PCM: warned of, refused by --strict), b\deep\y.med and c\notes.txt; E:\odd
// holds a file b. A refusal names DEST as typed and writes nothing (the suites of the real program
// check SOURCE); -r makes a folder of DEST, its parents first, once a file of its own is let in.
TEST(RunCli, ChecksTheFoldersAndMakesOnlyTheFoldersOfAdmittedFiles) {
  struct Case {
    const char* what;
    std::string source, dest;    // dest "-": none given
    const char* flags;           // r: recursive, n: dry run, s: strict
    std::uint64_t freeClusters;  // of 4096 bytes; the two files' 6000 need 1
    int code;
    std::string err;             // part of standard error, '\' shown as the platform shows it
    std::set<std::string> made;  // on E:
  };
  const std::string progress = "[ 50%] 1/2 a\\x.wav\n[100%] 2/2 b\\deep\\y.med\n";
  const Case cases[] = {
      {"missing DEST", "D:\\in", "none", "r", 1, 2, "destination folder \"none\" does not", {}},
      {"a file as DEST", "D:\\in", "x.txt", "r", 1, 2, "destination \"x.txt\" is not a folder", {}},
      {"empty source", "", "E:\\out", "", 1, 2, "Please select files first\n", {}},
      {"empty DEST", "D:\\in", "", "r", 1, 2, "Please select destination path\n", {}},
      {"too little space", "D:\\in", "E:\\out", "r", 0, 2, "Not enough free space", {}},
      {"a dry run", "D:\\in", "E:\\out", "rn", 1, 0, "", {}},
      {"a run", "D:\\in", "E:\\out", "r", 1, 0, progress, {"out\\a", "out\\b", "out\\b\\deep"}},
      {"--strict", "D:\\in", "E:\\out", "rs", 1, 1, "", {"out\\b", "out\\b\\deep"}},
      {"b cannot be made", "D:\\in", "E:\\odd", "r", 1, 1, "Error create file", {"odd\\a"}}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in",    "D:\\in\\a", "D:\\in\\b", "D:\\in\\b\\deep",
                  "D:\\in\\c", "E:\\out",   "E:\\odd"};
    fs.entries = {{"D:\\in\\a\\x.wav", SoundFile(3000, 1)},
                  {"D:\\in\\b\\deep\\y.med", PlayableSound(3000, 122)},
                  {"D:\\in\\c\\notes.txt", {}},
                  {"E:\\odd\\b", {}},
                  {"x.txt", {}}};
    fs.space.freeClusters = test.freeClusters;
    std::set<std::string> folders = fs.folders;
    for (const std::string& name : test.made) folders.insert("E:\\" + name);
    const CliOptions options = Options(test.source, test.dest, test.flags);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunCli(options, fs), test.code);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(ForDisplay(test.err)), std::string::npos) << err;
    EXPECT_EQ(fs.folders, folders);
    // Nothing is written but into a folder made for it, or the dry run's trial file in DEST.
    EXPECT_EQ(fs.created.empty(), test.made.empty() && test.code != 0);
  }
}

// With -r, D:\in\m: a.med plays, b.med carries IMA ADPCM's tag. D:\in: c.wav fits the c.med it
// replaces; d.wav is the game's d.med as taken out (its format unreadable, still never refused);
// e.wav is that too but for one byte. a.wav and b.wav are new.
TEST(RunCli, ChecksBothDirectionsAndCountsWhatARunWouldDo) {
  struct Case {
    const char* what;
    const char* flags;  // n: dry run, s: strict, i: --info --json
    int failAt;         // the call of CreateNew that fails; 0: none
    std::uint64_t freeClusters;
    int code;
    std::string out, err;  // part of standard output; standard error but the progress lines
  };
  const std::string warned = "e.wav: no data chunk\nwarning: m\\b.med: carries IMA ADPCM's tag";
  const std::string run = "5 files, 5 converted (2 new), 2 warnings, 0 failed, 0 skipped, 15000";
  const std::string dry = "5 files would be converted (2 new), 2 warnings, 0 refused, 15000";
#ifdef _WIN32
  const std::string byteFf = "\u00ff";  // a character of the ANSI code page, 1252 here
#else
  const std::string byteFf = "\\ufffd";  // no UTF-8 character
#endif
  const Case cases[] = {
      {"a run", "", 0, 9, 0, run, "warning: " + warned},
      {"--strict", "s", 0, 9, 1, "5 files, 3 converted (1 new), 0 warnings, 2 failed",
       "refused: e.wav: no data chunk\nrefused: m\\b.med: carries"},
      {"a dry run", "n", 0, 9, 0, dry, "warning: " + warned},
      {"--strict dry run", "ns", 0, 9, 1,
       "3 files would be converted (1 new), 0 warnings, 2 refused, 9000 bytes",
       "refused: m\\b.med"},
      {"DEST takes no file", "n", 1, 9, 1, dry, "would fail: \"E:\\out\": no file can be created"},
      {"too little room", "n", 0, 2, 1, dry,
       "would fail: \"E:\\out\": its volume has too little free space for the 15000 bytes "
       "listed\n"},
      {"--info --json", "i", 0, 9, 1,
       "q\\\"\\u0001" + byteFf +
           ".med\", "
           "\"status\": \"new\", \"format\": \"game IMA ADPCM (0x007A)\", \"tag\": 122, "
           "\"channels\": 1, \"rate\": 22050, \"bits\": 4, \"block_align\": 512, \"samples\": "
           "5862, \"seconds\": 0.266, \"problem\": null}",
       ""}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in", "D:\\in\\m", "E:\\out"};
    const Bytes med = SoundFile(3000, 122, 5);
    fs.entries = {{"D:\\in\\m\\a.med", PlayableSound(3000, 122)},
                  {"D:\\in\\m\\b.med", PlayableSound(3000, 17)},
                  {"D:\\in\\c.wav", PlayableSound(3000, 17, 2)},
                  {"E:\\out\\c.med", PlayableSound(3000, 122, 3)},
                  {"D:\\in\\d.wav", WithTag(med, 17)},
                  {"E:\\out\\d.med", med},
                  {"D:\\in\\e.wav", Poke(WithTag(med, 17), 2999, 0, 1)},
                  {"E:\\out\\e.med", med}};
    CliOptions options = Options("D:\\in", "E:\\out", test.flags);
    options.recursive = true;
    if (options.info) fs.entries["D:\\in\\q\"\x01\xff.med"] = PlayableSound(3000, 122);
    fs.failAt["CreateNew"] = test.failAt;
    fs.space.freeClusters = test.freeClusters;
    const auto before = fs.entries;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunCli(options, fs), test.code);
    const std::string out = testing::internal::GetCapturedStdout();
    std::string err;
    std::istringstream lines(testing::internal::GetCapturedStderr());
    for (std::string line; std::getline(lines, line);)
      if (line[0] != '[') err += line + "\n";
    EXPECT_NE(out.find(test.out), std::string::npos) << out;
    EXPECT_NE(err.find(ForDisplay(test.err)), std::string::npos) << err;
    // What the conversion writes is the batch's to test; a refusal keeps the old output.
    const bool wrote = std::strchr(test.flags, 'n') == nullptr && !options.info;
    EXPECT_EQ(fs.entries == before, !wrote);
    EXPECT_EQ(fs.entries.at("E:\\out\\e.med"),
              options.strict || !wrote ? med : WithTag(fs.entries.at("D:\\in\\e.wav"), 122));
  }
}

// D:\in holds a.wav, b.med, c.med and sub\d.med; E:\out holds A.MED (and a.Med with flag 2).
TEST(RunCli, ChoosesTheFilesAndTheOutputNames) {
  struct Case {
    const char* what;
    std::string source, dest, to;  // dest "-": none given
    const char* flags;             // r: recursive, n: dry run, c: names ignore case, 2: a.Med too
    int code;
    std::string err, out;  // parts of standard error and output, '\' as the platform's
    std::string written;   // every path new or changed, in order, each followed by a space
  };
  const std::string notice = "D:\\in: 1 .wav file converted, 2 .med files left out; --to wav";
  const Case cases[] = {
      {"the window's rule", "D:\\in", "E:\\out", "", "r", 0, notice, "",
       "E:\\out\\A.MED E:\\out\\sub\\d.wav "},
      {"--to wav, each folder", "D:\\in", "E:\\out\\o", "wav", "r", 0, "", "",
       "E:\\out\\o\\b.wav E:\\out\\o\\c.wav E:\\out\\o\\sub\\d.wav "},
      {"--to wav, one folder", "D:\\in", "E:\\out\\new", "wav", "", 0, "", "",
       "E:\\out\\new\\b.wav E:\\out\\new\\c.wav "},
      {"one file", "D:\\in\\b.med", "-", "", "", 0, "", "", "D:\\in\\b.wav "},
      {"not what --to takes", "D:\\in\\a.wav", "-", "wav", "", 2, "is already a .wav file", "", ""},
      {"DEST's parent missing", "D:\\in", "E:\\no\\new", "", "", 2, "new\" does not exist", "", ""},
      {"a dry run", "D:\\in", "E:\\out", "med", "n", 0, "", "D:\\in\\a.wav -> E:\\out\\A.MED", ""},
      {"two in other cases", "D:\\in\\a.wav", "E:\\out", "", "2", 1, "(A.MED, a.Med)", "", ""},
      {"names ignore case", "D:\\in\\a.wav", "E:\\out", "", "c", 0, "", "", "E:\\out\\a.med "}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in", "D:\\in\\sub", "E:\\out"};
    for (const char* med :
         {"D:\\in\\b.med", "D:\\in\\c.med", "D:\\in\\sub\\d.med", "E:\\out\\A.MED"})
      fs.entries[med] = SoundFile(300, 122);
    fs.entries["D:\\in\\a.wav"] = SoundFile(300, 17, 2);
    if (std::strchr(test.flags, '2') != nullptr) fs.entries["E:\\out\\a.Med"];
    fs.ignoreCase = std::strchr(test.flags, 'c') != nullptr;
    const auto before = fs.entries;
    CliOptions options = Options(test.source, test.dest, test.flags);
    options.to = test.to;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunCli(options, fs), test.code);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(ForDisplay(test.err)), std::string::npos) << err;
    EXPECT_NE(out.find(ForDisplay(test.out)), std::string::npos) << out;
    EXPECT_EQ(err.find(".med files left out") != std::string::npos, test.err == notice);
    std::string written;
    for (const auto& [path, data] : fs.entries)
      if (before.count(path) == 0 || before.at(path) != data) written += path + " ";
    EXPECT_EQ(written, test.written) << out << err;
  }
}
