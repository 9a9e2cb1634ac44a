// The command line on the in-memory file system: its folder checks, the folders -r makes, which
// files it takes and the names it writes, each file's plan shown and counted as it happened, the
// dry run's checks of DEST and the --info document. Standard output and error are compared whole.
#include "cli/run.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli/console.h"
#include "fakes/fakes.h"

namespace {

using Lines = std::vector<std::string>;

// The options of a case: DEST "-" for none given; flags r recursive, n dry run, s strict,
// f --fit, q quiet, i --info as JSON.
CliOptions Options(const std::string& source, const std::string& dest, const char* flags) {
  CliOptions options;
  options.source = source;
  options.dest = dest;
  options.destGiven = dest != "-";
  options.recursive = std::strchr(flags, 'r') != nullptr;
  options.dryRun = std::strchr(flags, 'n') != nullptr;
  options.strict = std::strchr(flags, 's') != nullptr;
  options.fit = std::strchr(flags, 'f') != nullptr;
  options.quiet = std::strchr(flags, 'q') != nullptr;
  options.info = options.json = std::strchr(flags, 'i') != nullptr;
  return options;
}

struct Ran {
  int code;
  std::string out;
  Lines err;  // standard error's lines
};

// Runs the command line; its progress lines are kept only with `progress`.
Ran RunOn(FakeFileSystem& fs, const CliOptions& options, bool progress = false) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Ran ran{RunCli(options, fs), "", {}};
  ran.out = testing::internal::GetCapturedStdout();
  std::istringstream lines(testing::internal::GetCapturedStderr());
  for (std::string line; std::getline(lines, line);)
    if (progress || line[0] != '[') ran.err.push_back(line);
  return ran;
}

// The lines as the platform shows them.
Lines Shown(Lines lines) {
  for (std::string& line : lines) line = ForDisplay(line);
  return lines;
}

// 16-bit PCM at 16000 Hz, stereo, of `frames`; its data size `extra` bytes more than it holds.
Bytes Pcm(std::size_t frames, std::uint32_t extra = 0) {
  return Riff(Cat({Fmt(1, 2, 16000, 4, 16), Id("data"),
                   Le(static_cast<std::uint32_t>(4 * frames + extra), 4), Bytes(4 * frames, 3)}));
}

const char kUsage[] = "Run 'tonequay-cli --help' for usage.";

}  // namespace

// D:\in holds a\x.wav (PCM: warned of, refused by --strict), b\deep\y.med and c\notes.txt; E:\odd
// holds a file b. A refusal names DEST as typed and writes nothing (the suites of the real program
// check SOURCE); -r makes a folder of DEST, its parents first, once a file of its own is let in.
TEST(RunCli, ChecksTheFoldersAndMakesOnlyTheFoldersOfAdmittedFiles) {
  const std::string warned = "a\\x.wav is PCM (0x0001) 16-bit 16000 Hz stereo: not IMA ADPCM";
  const Lines progress = {"[ 49%] 1/2 a\\x.wav", "[100%] 2/2 b\\deep\\y.med"};
  struct Case {
    const char* what;
    std::string source, dest;    // dest "-": none given
    const char* flags;           // r: recursive, n: dry run, s: strict
    std::uint64_t freeClusters;  // of 4096 bytes; the two files' 6124 need 1
    int code;
    Lines err;
    std::set<std::string> made;  // on E:
  };
  const Case cases[] = {
      {"missing DEST", "D:\\in", "none", "r", 1, 2,
       {"tonequay-cli: destination folder \"none\" does not exist", kUsage}, {}},
      {"a file as DEST", "D:\\in", "x.txt", "r", 1, 2,
       {"tonequay-cli: destination \"x.txt\" is not a folder; give the folder that holds the "
        "files",
        kUsage},
       {}},
      {"empty source", "", "E:\\out", "", 1, 2, {"Please select files first"}, {}},
      {"empty DEST", "D:\\in", "", "r", 1, 2, {"Please select destination path"}, {}},
      {"too little space", "D:\\in", "E:\\out", "r", 0, 2,
       {"Not enough free space on destination path"}, {}},
      {"a dry run", "D:\\in", "E:\\out", "rn", 1, 0, {"warning: " + warned}, {}},
      {"a run", "D:\\in", "E:\\out", "r", 1, 0, {"warning: " + warned, progress[0], progress[1]},
       {"out\\a", "out\\b", "out\\b\\deep"}},
      {"--strict", "D:\\in", "E:\\out", "rs", 1, 1, {"refused: " + warned, "[ 50%] 2/2 b\\deep\\y.med"},
       {"out\\b", "out\\b\\deep"}},
      {"b cannot be made", "D:\\in", "E:\\odd", "r", 1, 1,
       {"warning: " + warned, progress[0], "Error create file \"E:\\odd\\b\\deep\\y.wav\""},
       {"odd\\a"}}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in",    "D:\\in\\a", "D:\\in\\b", "D:\\in\\b\\deep",
                  "D:\\in\\c", "E:\\out",   "E:\\odd"};
    fs.entries = {{"D:\\in\\a\\x.wav", Pcm(750)},
                  {"D:\\in\\b\\deep\\y.med", PlayableSound(3080, 122)},
                  {"D:\\in\\c\\notes.txt", {}},
                  {"E:\\odd\\b", {}},
                  {"x.txt", {}}};
    fs.space.freeClusters = test.freeClusters;
    std::set<std::string> folders = fs.folders;
    for (const std::string& name : test.made) folders.insert("E:\\" + name);
    const Ran ran = RunOn(fs, Options(test.source, test.dest, test.flags), true);
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(Shown(ran.err), Shown(test.err));
    EXPECT_EQ(fs.folders, folders);
    // Nothing is written but into a folder made for it, or the dry run's trial file in DEST.
    EXPECT_EQ(fs.created.empty(), test.made.empty() && test.code != 0);
  }
}

// With -r, D:\in\m: a.med plays, b.med carries IMA ADPCM's tag. D:\in: c.wav fits the c.med it
// replaces; d.wav is the game's d.med as taken out (its format unreadable, still never refused);
// e.wav is that too but for one byte. a.wav and b.wav are new.
TEST(RunCli, ChecksBothDirectionsAndCountsWhatARunWouldDo) {
  const Lines warned = {"e.wav: no data chunk", "m\\b.med: carries IMA ADPCM's tag 17, not the "
                                                "game's 122"};
  const auto lines = [&warned](const char* how) {
    return Lines{how + warned[0], how + warned[1]};
  };
  const std::string listing =
      "D:\\in\\c.wav -> E:\\out\\c.med\nD:\\in\\d.wav -> E:\\out\\d.med\nD:\\in\\e.wav -> "
      "E:\\out\\e.med\nD:\\in\\m\\a.med -> E:\\out\\m\\a.wav\nD:\\in\\m\\b.med -> "
      "E:\\out\\m\\b.wav\n";
  const std::string dry =
      "Dry run: 5 files would be converted (2 new), 2 warnings, 0 refused, 15000 bytes to read; "
      "nothing was written\n";
  struct Case {
    const char* what;
    const char* flags;  // n: dry run, s: strict, i: --info --json
    int failAt;         // the call of CreateNew that fails; 0: none
    std::uint64_t freeClusters;
    int code;
    std::string out;
    Lines err;  // but the progress lines
  };
  const Case cases[] = {
      {"a run", "", 0, 9, 0,
       "Summary: 5 files, 5 converted (2 new), 2 warnings, 0 failed, 0 skipped, 15000 bytes "
       "written\n",
       lines("warning: ")},
      {"--strict", "s", 0, 9, 1,
       "Summary: 5 files, 3 converted (1 new), 0 warnings, 2 failed, 0 skipped, 9000 bytes "
       "written\n",
       lines("refused: ")},
      {"a dry run", "n", 0, 9, 0, listing + dry, lines("warning: ")},
      {"--strict dry run", "ns", 0, 9, 1,
       "D:\\in\\c.wav -> E:\\out\\c.med\nD:\\in\\d.wav -> E:\\out\\d.med\nD:\\in\\m\\a.med -> "
       "E:\\out\\m\\a.wav\nDry run: 3 files would be converted (1 new), 0 warnings, 2 refused, "
       "9000 bytes to read; nothing was written\n",
       lines("refused: ")},
      {"DEST takes no file", "n", 1, 9, 1, listing + dry,
       {"warning: " + warned[0], "warning: " + warned[1],
        "tonequay-cli: the run would fail: \"E:\\out\": no file can be created in it"}},
      {"too little room", "n", 0, 2, 1, listing + dry,
       {"warning: " + warned[0], "warning: " + warned[1],
        "tonequay-cli: the run would fail: \"E:\\out\": its volume has too little free space for "
        "the 15000 bytes listed"}},
  };
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
    const CliOptions options = Options("D:\\in", "E:\\out", test.flags);
    fs.failAt["CreateNew"] = test.failAt;
    fs.space.freeClusters = test.freeClusters;
    const auto before = fs.entries;
    const Ran ran = RunOn(fs, Options("D:\\in", "E:\\out", (std::string("r") + test.flags).c_str()));
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(ran.out, ForDisplay(test.out));
    EXPECT_EQ(Shown(ran.err), Shown(test.err));
    // What the conversion writes is the batch's to test; a refusal keeps the old output.
    const bool wrote = std::strchr(test.flags, 'n') == nullptr;
    EXPECT_EQ(fs.entries == before, !wrote);
    EXPECT_EQ(fs.entries.at("E:\\out\\e.med"),
              options.strict || !wrote ? med : WithTag(fs.entries.at("D:\\in\\e.wav"), 122));
  }
}

// --info compares each file with the one its conversion would replace, for a tree or one file;
// its JSON escapes what a name holds.
TEST(RunCli, InfoTellsEachFilesStanding) {
  FakeFileSystem fs;
  fs.folders = {"D:\\in", "E:\\out"};
  const Bytes med = SoundFile(3000, 122, 5);
  fs.entries = {{"D:\\in\\a.med", PlayableSound(3000, 122)},
                {"D:\\in\\b.wav", PlayableSound(3000, 17, 2)},
                {"E:\\out\\b.med", PlayableSound(3000, 122, 3)},
                {"D:\\in\\c.wav", WithTag(med, 17)},
                {"E:\\out\\c.med", med},
                {"D:\\in\\d.wav", Pcm(10)},
                {"E:\\out\\d.med", med},
                {"D:\\in\\q\"\x01\xff.med", PlayableSound(3000, 122)}};
#ifdef _WIN32
  const std::string byteFf = "\u00ff";  // a character of the ANSI code page, 1252 here
#else
  const std::string byteFf = "\\ufffd";  // no UTF-8 character
#endif
  // A path as the JSON writes it: the platform's separators, each backslash escaped.
  const auto json = [](const std::string& path) {
    return std::regex_replace(ForDisplay(path), std::regex(R"(\\)"), R"(\\)");
  };
  const Ran tree = RunOn(fs, Options("D:\\in", "E:\\out", "i"));
  Lines statuses;
  const std::regex status("\"status\": (\"[^\"]*\"|null)");
  for (std::sregex_iterator at(tree.out.begin(), tree.out.end(), status), end; at != end; ++at)
    statuses.push_back((*at)[1]);
  EXPECT_EQ(tree.code, 1);
  EXPECT_EQ(statuses, Lines({"\"new\"", "\"fits\"", "\"unchanged\"", "\"would not play\"",
                             "\"new\""}));
  EXPECT_NE(tree.out.find("{\"path\": \"" + json("D:\\in\\") + "q\\\"\\u0001" + byteFf +
                          ".med\", \"status\": \"new\", \"format\": \"game IMA ADPCM (0x007A)\", "
                          "\"tag\": 122, \"channels\": 1, \"rate\": 22050, \"bits\": 4, "
                          "\"block_align\": 512, \"samples\": 5862, \"seconds\": 0.266, "
                          "\"problem\": null}"),
            std::string::npos)
      << tree.out;
  const Ran one = RunOn(fs, Options("D:\\in\\b.wav", "E:\\out", "i"));
  EXPECT_EQ(one.code, 0);
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 3) << one.out;
  EXPECT_NE(one.out.find("\"path\": \"" + json("D:\\in\\b.wav") + "\", \"status\": \"fits\""),
            std::string::npos)
      << one.out;
}

// D:\in holds a.wav, b.med, c.med and sub\d.med; E:\out holds A.MED (and a.Med with flag 2).
TEST(RunCli, ChoosesTheFilesAndTheOutputNames) {
  struct Case {
    const char* what;
    std::string source, dest, to;  // dest "-": none given
    const char* flags;             // r: recursive, n: dry run, c: names ignore case, 2: a.Med too
    int code;
    Lines err;            // but the progress lines
    std::string written;  // every path new or changed, in order, each followed by a space
  };
  const Lines none;
  const Case cases[] = {
      {"the window's rule", "D:\\in", "E:\\out", "", "r", 0,
       {"D:\\in: 1 .wav file converted, 2 .med files left out; --to wav converts them"},
       "E:\\out\\A.MED E:\\out\\sub\\d.wav "},
      {"--to wav, each folder", "D:\\in", "E:\\out\\o", "wav", "r", 0, none,
       "E:\\out\\o\\b.wav E:\\out\\o\\c.wav E:\\out\\o\\sub\\d.wav "},
      {"--to wav, one folder", "D:\\in", "E:\\out\\new", "wav", "", 0, none,
       "E:\\out\\new\\b.wav E:\\out\\new\\c.wav "},
      {"one file", "D:\\in\\b.med", "-", "", "", 0, none, "D:\\in\\b.wav "},
      {"one file, a dry run into a DEST that takes none", "D:\\in\\b.med", "E:\\out", "", "nx", 1,
       {"tonequay-cli: the run would fail: \"E:\\out\": no file can be created in it"}, ""},
      {"not what --to takes", "D:\\in\\a.wav", "-", "wav", "", 2,
       {"tonequay-cli: source \"D:\\in\\a.wav\" is already a .wav file", kUsage}, ""},
      {"DEST's parent missing", "D:\\in", "E:\\no\\new", "", "", 2,
       {"tonequay-cli: destination folder \"E:\\no\\new\" does not exist", kUsage}, ""},
      {"two in other cases", "D:\\in\\a.wav", "E:\\out", "", "2", 1,
       {"refused: \"E:\\out\\a.med\" has 2 files whose names differ from it only in letter case "
        "(A.MED, a.Med); keep one of them"},
       ""},
      {"names ignore case", "D:\\in\\a.wav", "E:\\out", "", "c", 0, none, "E:\\out\\a.med "}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in", "D:\\in\\sub", "E:\\out"};
    for (const char* med :
         {"D:\\in\\b.med", "D:\\in\\c.med", "D:\\in\\sub\\d.med", "E:\\out\\A.MED"})
      fs.entries[med] = PlayableSound(300, 122);
    fs.entries["D:\\in\\a.wav"] = PlayableSound(300, 17, 2);
    if (std::strchr(test.flags, '2') != nullptr) fs.entries["E:\\out\\a.Med"];
    if (std::strchr(test.flags, 'x') != nullptr) fs.failAt["CreateNew"] = 1;
    fs.ignoreCase = std::strchr(test.flags, 'c') != nullptr;
    const auto before = fs.entries;
    CliOptions options = Options(test.source, test.dest, test.flags);
    options.to = test.to;
    const Ran ran = RunOn(fs, options);
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(Shown(ran.err), Shown(test.err));
    std::string written;
    for (const auto& [path, data] : fs.entries)
      if (before.count(path) == 0 || before.at(path) != data) written += path + " ";
    EXPECT_EQ(written, test.written) << ran.out;
  }
  // However many files a folder of DEST takes, it is listed once.
  for (const int files : {2, 40}) {
    FakeFileSystem fs;
    fs.folders = {"D:\\in", "E:\\out"};
    for (int i = 0; i < files; ++i) fs.entries["D:\\in\\" + std::to_string(i) + ".med"];
    RunOn(fs, Options("D:\\in", "E:\\out", ""));
    EXPECT_EQ(fs.calls["FindFiles"], 4) << files << " files";  // *.wav, *.med, sizes, DEST
  }
}

// E:\out holds the game's v.med, cut.med and same.med (8000 Hz mono IMA ADPCM); D:\in an edit of
// each: PCM, PCM whose data is cut short, and same.med taken out unedited.
TEST(RunCli, FitsWhatWouldNotPlayAndCountsWhatWasFitted) {
  const Bytes med = Riff(Cat({Fmt(122, 1, 8000, 256, 4, Cat({Le(2, 2), Le(505, 2)})),
                              ChunkOf("fact", Le(1010, 4)), ChunkOf("data", Bytes(512, 1))}));
  const std::string fitLine = " PCM 16-bit 16000 Hz stereo -> IMA ADPCM 8000 Hz mono, 256-byte "
                              "blocks";
  const std::string cut = "cut.wav: its data is cut short; the sound it holds was fitted";
  struct Case {
    const char* what;
    const char* flags;  // n: dry run, s: strict, q: quiet
    int failReplace;    // the move that fails; 0: none
    int code;
    std::string out;
    Lines err;  // but the progress lines
  };
  const Case cases[] = {
      {"a run", "", 0, 0,
       "Summary: 3 files, 3 converted (0 new, 2 fitted), 1 warning, 0 failed, 0 skipped, 1972 "
       "bytes written\n",
       {"fit: cut.wav" + fitLine, "warning: " + cut, "fit: v.wav" + fitLine}},
      {"--quiet", "q", 0, 0, "", {"warning: " + cut}},
      {"--strict", "s", 0, 1,
       "Summary: 3 files, 2 converted (0 new, 1 fitted), 0 warnings, 1 failed, 0 skipped, 1656 "
       "bytes written\n",
       {"refused: " + cut, "fit: v.wav" + fitLine}},
      {"a move fails", "", 1, 1,
       "Summary: 3 files, 2 converted (0 new, 1 fitted), 1 warning, 1 failed, 0 skipped, 1656 "
       "bytes written\n",
       {"fit: cut.wav" + fitLine, "warning: " + cut, "Error create file \"E:\\out\\cut.med\"",
        "fit: v.wav" + fitLine}},
      {"a dry run", "n", 0, 0,
       "fit: cut.wav" + fitLine + "\nD:\\in\\cut.wav -> E:\\out\\cut.med\nD:\\in\\same.wav -> "
       "E:\\out\\same.med\nfit: v.wav" + fitLine + "\nD:\\in\\v.wav -> E:\\out\\v.med\nDry run: "
       "3 files would be converted (0 new, 2 fitted), 1 warning, 0 refused, 17820 bytes to read; "
       "nothing was written\n",
       {"warning: " + cut}},
      {"a --strict dry run", "ns", 0, 1,
       "D:\\in\\same.wav -> E:\\out\\same.med\nfit: v.wav" + fitLine + "\nD:\\in\\v.wav -> "
       "E:\\out\\v.med\nDry run: 2 files would be converted (0 new, 1 fitted), 0 warnings, 1 "
       "refused, 16776 bytes to read; nothing was written\n",
       {"refused: " + cut}}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in", "E:\\out"};
    fs.entries = {{"D:\\in\\v.wav", Pcm(4040)},        {"E:\\out\\v.med", med},
                  {"D:\\in\\cut.wav", Pcm(250, 4000)}, {"E:\\out\\cut.med", med},
                  {"D:\\in\\same.wav", WithTag(med, 17)}, {"E:\\out\\same.med", med}};
    fs.failAt["Replace"] = test.failReplace;
    CliOptions options = Options("D:\\in", "E:\\out", test.flags);
    options.fit = true;
    const Ran ran = RunOn(fs, options);
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(ran.out, ForDisplay(test.out));
    EXPECT_EQ(Shown(ran.err), Shown(test.err));
    const bool wrote = std::strchr(test.flags, 'n') == nullptr;
    EXPECT_EQ(fs.entries.at("E:\\out\\v.med").size(), wrote ? 1084u : med.size());
    EXPECT_EQ(fs.entries.at("E:\\out\\cut.med") == med,
              !wrote || test.failReplace != 0 || options.strict);
    EXPECT_EQ(fs.entries.at("E:\\out\\same.med"), med);
  }
}
