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

// The options of a case: DEST "-" for none given; flags r recursive, n dry run, s strict,
// f --fit, q quiet, i --info as JSON, t --info as a table.
CliOptions Options(const std::string& source, const std::string& dest, const std::string& flags) {
  CliOptions options;
  options.source = source;
  options.dest = dest;
  options.destGiven = dest != "-";
  const auto has = [&flags](char flag) { return flags.find(flag) != std::string::npos; };
  options.recursive = has('r');
  options.dryRun = has('n');
  options.strict = has('s');
  options.fit = has('f');
  options.quiet = has('q');
  options.info = has('i') || has('t');
  options.json = has('i');
  return options;
}

struct Ran {
  int code;
  std::string out, err;  // standard error's lines, joined by '\n'
};

// Runs the command line; its progress lines are kept only with `progress`.
Ran RunOn(FakeFileSystem& fs, const CliOptions& options, bool progress = false,
          WatchClock* clock = nullptr) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Ran ran{RunCli(options, fs, clock), testing::internal::GetCapturedStdout(), ""};
  std::istringstream lines(testing::internal::GetCapturedStderr());
  for (std::string line; std::getline(lines, line);)
    if (progress || line[0] != '[') ran.err += (ran.err.empty() ? "" : "\n") + line;
  return ran;
}

// The closing line of a run, or of a dry run (`done` < 0, `failed` then the refused ones), with
// these counts; `fitted` < 0: without --fit.
std::string Summary(int files, int done, int made, int fitted, int warnings, int failed,
                    int bytes) {
  std::ostringstream line;
  line << (done < 0 ? "Dry run: " : "Summary: ") << files << " file" << (files == 1 ? "" : "s")
       << (done < 0 ? " would be converted" : ", " + std::to_string(done) + " converted") << " ("
       << made << " new" << (fitted < 0 ? "" : ", " + std::to_string(fitted) + " fitted") << "), "
       << warnings << (warnings == 1 ? " warning, " : " warnings, ") << failed
       << (done < 0 ? " refused, " : " failed, 0 skipped, ") << bytes
       << (done < 0 ? " bytes to read; nothing was written\n" : " bytes written\n");
  return line.str();
}

// 16-bit PCM at 16000 Hz, stereo, of `frames`; its data size `extra` bytes more than it holds.
Bytes Pcm(std::size_t frames, std::uint32_t extra = 0) {
  return Riff(Cat({Fmt(1, 2, 16000, 4, 16), Id("data"),
                   Le(static_cast<std::uint32_t>(4 * frames + extra), 4), Bytes(4 * frames, 3)}));
}

// With -r, D:\in\m: a.med plays, b.med carries IMA ADPCM's tag. D:\in: c.wav fits the c.med it
// replaces in E:\out; d.wav is the game's d.med as taken out (its format unreadable, still never
// refused); e.wav is that too but for one byte. a.wav and b.wav are new.
FakeFileSystem Game() {
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
  return fs;
}

const std::string kUsage = "\nRun 'tonequay-cli --help' for usage.";  // after a usage error

}  // namespace

// D:\in holds a\x.wav (PCM: warned of, refused by --strict), b\deep\y.med and c\notes.txt; E:\odd
// holds a file b. A refusal names DEST as typed and writes nothing (the suites of the real program
// check SOURCE); -r makes a folder of DEST, its parents first, once a file of its own is let in.
TEST(RunCli, ChecksTheFoldersAndMakesOnlyTheFoldersOfAdmittedFiles) {
  const std::string pcm = "a\\x.wav is PCM (0x0001) 16-bit 16000 Hz stereo: not IMA ADPCM";
  const std::string warned = "warning: " + pcm + "\n[ 49%] 1/2 a\\x.wav";
  struct Case {
    const char* what;
    std::string source, dest;  // dest "-": none given
    const char* flags;         // r: recursive, n: dry run, s: strict
    int code;
    std::string err, made;  // standard error; the folders made on E:, each after a space
  } const cases[] = {
      {"a file as DEST", "D:\\in", "x.txt", "r", 2,
       "tonequay-cli: destination \"x.txt\" is not a folder; give the folder that holds the files" +
           kUsage,
       ""},
      {"empty source", "", "E:\\out", "", 2, "Please select files first", ""},
      {"empty DEST", "D:\\in", "", "r", 2, "Please select destination path", ""},
      {"a dry run", "D:\\in", "E:\\out", "rn", 0, "warning: " + pcm, ""},
      {"a run", "D:\\in", "E:\\out", "r", 0, warned + "\n[100%] 2/2 b\\deep\\y.med",
       " out\\a out\\b out\\b\\deep"},
      {"--strict", "D:\\in", "E:\\out", "rs", 1, "refused: " + pcm + "\n[ 50%] 2/2 b\\deep\\y.med",
       " out\\b out\\b\\deep"},
      {"b cannot be made", "D:\\in", "E:\\odd", "r", 1,
       warned + "\nError create file \"E:\\odd\\b\\deep\\y.wav\"", " odd\\a"}};
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
    fs.space.freeClusters = 1;  // of 4096 bytes; the two files' 6124 need 1
    std::set<std::string> folders = fs.folders;
    std::istringstream made(test.made);
    for (std::string name; made >> name;) folders.insert("E:\\" + name);
    const Ran ran = RunOn(fs, Options(test.source, test.dest, test.flags), true);
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(ran.err, WithOwnSeparators(test.err));
    EXPECT_EQ(fs.folders, folders);
    // Nothing is written but into a folder made for it, or the dry run's trial file in DEST.
    EXPECT_EQ(fs.created.empty(), test.made.empty() && test.code != 0);
  }
}

// The listing of both directions, each file's standing and what a run of them writes.
TEST(RunCli, ChecksBothDirectionsAndCountsWhatARunWouldDo) {
  const std::string e = "e.wav: no data chunk\n";
  const std::string b = "m\\b.med: carries IMA ADPCM's tag 17, not the game's 122";
  const std::string list = "D:\\in\\c.wav -> E:\\out\\c.med\nD:\\in\\d.wav -> E:\\out\\d.med\n";
  const std::string a = "D:\\in\\m\\a.med -> E:\\out\\m\\a.wav\n";
  const std::string all =
      list + "D:\\in\\e.wav -> E:\\out\\e.med\n" + a + "D:\\in\\m\\b.med -> E:\\out\\m\\b.wav\n";
  const std::string room =
      "\ntonequay-cli: the run would fail: \"E:\\out\": its volume has too "
      "little free space for the 15000 bytes listed";
  struct Case {
    const char* what;
    const char* flags;  // n: dry run, s: strict
    std::uint64_t freeClusters;
    int code;
    std::string out, how, last;  // each warning's start; the last line of standard error
  } const cases[] = {
      {"a run", "", 9, 0, Summary(5, 5, 2, -1, 2, 0, 15000), "warning: ", ""},
      {"--strict", "s", 9, 1, Summary(5, 3, 1, -1, 0, 2, 9000), "refused: ", ""},
      {"a dry run, too little room", "n", 2, 1, all + Summary(5, -1, 2, -1, 2, 0, 15000),
       "warning: ", room},
      {"--strict dry run", "ns", 9, 1, list + a + Summary(3, -1, 1, -1, 0, 2, 9000),
       "refused: ", ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs = Game();
    const Bytes med = fs.entries.at("E:\\out\\e.med");
    fs.space.freeClusters = test.freeClusters;
    const auto before = fs.entries;
    const Ran ran = RunOn(fs, Options("D:\\in", "E:\\out", std::string("r") + test.flags));
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(ran.out, WithOwnSeparators(test.out));
    EXPECT_EQ(ran.err, WithOwnSeparators(test.how + e + test.how + b + test.last));
    // What the conversion writes is the batch's to test; a refusal keeps the old output.
    const bool wrote = std::strchr(test.flags, 'n') == nullptr;
    EXPECT_EQ(fs.entries == before, !wrote);
    EXPECT_EQ(fs.entries.at("E:\\out\\e.med"),
              test.how[0] == 'r' || !wrote ? med : WithTag(fs.entries.at("D:\\in\\e.wav"), 122));
  }
}

// --info compares each file with the one its conversion would replace, for a folder or one file;
// its JSON escapes what a name holds.
TEST(RunCli, InfoTellsEachFilesStanding) {
  FakeFileSystem fs = Game();
  fs.entries["D:\\in\\q\"\x01\xff.med"] = PlayableSound(3000, 122);
  fs.entries.insert({{"D:\\in\\f.wav", PlayableSound(3000, 17)},
                     {"E:\\out\\f.med", Bytes(12)},
                     {"D:\\in\\g.wav", PlayableSound(48, 17)},
                     {"E:\\out\\g.med", PlayableSound(480, 122)}});
#ifdef _WIN32
  const std::string byteFf = "\u00ff", control = "\x01";  // 1252's character; no name holds one
#else
  const std::string byteFf = "\\ufffd", control = "?";  // no UTF-8 character; never to a terminal
#endif
  // A path as the JSON writes it: the platform's separators, each backslash escaped.
  const auto json = [](const std::string& path) {
    return std::regex_replace(WithOwnSeparators(path), std::regex(R"(\\)"), R"(\\)");
  };
  const Ran tree = RunOn(fs, Options("D:\\in", "E:\\out", "ri"));
  std::string statuses;  // c, d, e, f, g, q, m\a and m\b
  const std::regex status("\"status\": (\"[^\"]*\"|null)");
  for (std::sregex_iterator at(tree.out.begin(), tree.out.end(), status), end; at != end; ++at)
    statuses += (*at)[1].str() + " ";
  EXPECT_EQ(tree.code, 1);
  EXPECT_EQ(statuses, R"("fits" "unchanged" "would not play" "new" "would not play" "new" "new" )"
                      R"("would not play" )");
  EXPECT_NE(tree.out.find("{\"path\": \"" + json("D:\\in\\") + "q\\\"\\u0001" + byteFf +
                          ".med\", \"status\": \"new\", \"format\": \"game IMA ADPCM (0x007A)\", "
                          "\"tag\": 122, \"channels\": 1, \"rate\": 22050, \"bits\": 4, "
                          "\"block_align\": 512, \"samples\": 5862, \"seconds\": 0.266, "
                          "\"problem\": null}"),
            std::string::npos)
      << tree.out;
  const Ran table = RunOn(fs, Options("D:\\in\\q\"\x01\xff.med", "E:\\out", "t"));
  EXPECT_NE(table.out.find("\nq\"" + control + "\xff.med "), std::string::npos) << table.out;
  const Ran one = RunOn(fs, Options("D:\\in\\c.wav", "E:\\out", "i"));
  EXPECT_EQ(one.code, 0);
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 3) << one.out;
  EXPECT_NE(one.out.find("\"path\": \"" + json("D:\\in\\c.wav") + "\", \"status\": \"fits\""),
            std::string::npos)
      << one.out;
}

// D:\in holds a.wav, b.med, c.med and sub\d.med (A.WAV too with flag w); E:\out holds A.MED (and
// a.Med with flag 2).
TEST(RunCli, ChoosesTheFilesAndTheOutputNames) {
  struct Case {
    const char* what;
    std::string source, dest, to;  // dest "-": none given
    const char* flags;  // r, n as Options; c: names ignore case; 2, w: above; x: DEST takes none
    int code;
    std::string err;      // standard error but the progress lines; empty: none
    std::string written;  // every path new or changed, in order, each followed by a space
  } const cases[] = {
      {"the window's rule", "D:\\in", "E:\\out", "", "r", 0,
       "D:\\in: 1 .wav file converted, 2 .med files left out; --to wav converts them",
       "E:\\out\\A.MED E:\\out\\sub\\d.wav "},
      {"--to wav, each folder", "D:\\in", "E:\\out\\o", "wav", "r", 0, "",
       "E:\\out\\o\\b.wav E:\\out\\o\\c.wav E:\\out\\o\\sub\\d.wav "},
      {"--to wav, one folder", "D:\\in", "E:\\out\\new", "wav", "", 0, "",
       "E:\\out\\new\\b.wav E:\\out\\new\\c.wav "},
      {"one file", "D:\\in\\b.med", "-", "", "", 0, "", "D:\\in\\b.wav "},
      {"one file, a dry run into a DEST that takes none", "D:\\in\\b.med", "E:\\out", "", "nx", 1,
       "tonequay-cli: the run would fail: \"E:\\out\": no file can be created in it", ""},
      {"not what --to takes", "D:\\in\\a.wav", "-", "wav", "", 2,
       "tonequay-cli: source \"D:\\in\\a.wav\" is already a .wav file" + kUsage, ""},
      {"DEST's parent missing", "D:\\in", "E:\\no\\new", "", "", 2,
       "tonequay-cli: destination folder \"E:\\no\\new\" does not exist" + kUsage, ""},
      {"two in other cases", "D:\\in\\a.wav", "E:\\out", "", "2", 1,
       "refused: \"E:\\out\\a.med\" has 2 files whose names differ from it only in letter case "
       "(A.MED, a.Med); keep one of them",
       ""},
      {"names ignore case", "D:\\in\\a.wav", "E:\\out", "", "c", 0, "", "E:\\out\\a.med "},
      {"two sources for one output", "D:\\in", "E:\\out", "med", "w", 1,
       "refused: \"E:\\out\\A.MED\" is the output of A.WAV in this run; rename one of the two",
       "E:\\out\\A.MED "}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in", "D:\\in\\sub", "E:\\out"};
    for (const char* med :
         {"D:\\in\\b.med", "D:\\in\\c.med", "D:\\in\\sub\\d.med", "E:\\out\\A.MED"})
      fs.entries[med] = PlayableSound(300, 122);
    fs.entries["D:\\in\\a.wav"] = PlayableSound(300, 17, 2);
    if (std::strchr(test.flags, '2') != nullptr) fs.entries["E:\\out\\a.Med"];
    if (std::strchr(test.flags, 'w') != nullptr)
      fs.entries["D:\\in\\A.WAV"] = PlayableSound(300, 17, 4);
    if (std::strchr(test.flags, 'x') != nullptr) fs.failAt["CreateNew"] = 1;
    fs.ignoreCase = std::strchr(test.flags, 'c') != nullptr;
    const auto before = fs.entries;
    CliOptions options = Options(test.source, test.dest, test.flags);
    options.to = test.to;
    const Ran ran = RunOn(fs, options);
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(WithOwnSeparators(ran.err), WithOwnSeparators(test.err))
        << "SOURCE and DEST as typed";
    std::string written;
    for (const auto& [path, data] : fs.entries)
      if (before.count(path) == 0 || before.at(path) != data) written += path + " ";
    EXPECT_EQ(written, test.written) << ran.out;
  }
  // However many files a folder of DEST takes, it is listed once.
  FakeFileSystem fs;
  fs.folders = {"D:\\in", "E:\\out"};
  for (int i = 0; i < 40; ++i) fs.entries["D:\\in\\" + std::to_string(i) + ".med"];
  RunOn(fs, Options("D:\\in", "E:\\out", ""));
  EXPECT_EQ(fs.calls["FindFiles"], 4);  // *.wav, *.med, sizes, DEST
}

// E:\out holds the game's v.med, cut.med and same.med (8000 Hz mono IMA ADPCM); D:\in an edit of
// each: PCM, PCM whose data is cut short, and same.med taken out unedited.
TEST(RunCli, FitsWhatWouldNotPlayAndCountsWhatWasFitted) {
  const Bytes med = Riff(Cat({Fmt(122, 1, 8000, 256, 4, Cat({Le(2, 2), Le(505, 2)})),
                              ChunkOf("fact", Le(1010, 4)), ChunkOf("data", Bytes(512, 1))}));
  const std::string to = " PCM 16-bit 16000 Hz stereo -> IMA ADPCM 8000 Hz mono, 256-byte blocks";
  const std::string fitCut = "fit: cut.wav" + to + "\n", fitV = "fit: v.wav" + to;
  const std::string cut = "cut.wav: its data is cut short; the sound it holds was fitted";
  const std::string warned = "warning: " + cut, refused = "refused: " + cut;
  const std::string list =
      "D:\\in\\same.wav -> E:\\out\\same.med\n" + fitV + "\nD:\\in\\v.wav -> E:\\out\\v.med\n";
  struct Case {
    const char* what;
    const char* flags;  // n: dry run, s: strict, q: quiet
    int failReplace;    // the move that fails; 0: none
    int code;
    std::string out, err;  // standard error but the progress lines
  } const cases[] = {
      {"a run", "", 0, 0, Summary(3, 3, 0, 2, 1, 0, 1972), fitCut + warned + "\n" + fitV},
      {"--quiet", "q", 0, 0, "", warned},
      {"--strict", "s", 0, 1, Summary(3, 2, 0, 1, 0, 1, 1656), refused + "\n" + fitV},
      {"a move fails", "", 1, 1, Summary(3, 2, 0, 1, 1, 1, 1656),
       fitCut + warned + "\nError create file \"E:\\out\\cut.med\"\n" + fitV},
      {"a dry run", "n", 0, 0,
       fitCut + "D:\\in\\cut.wav -> E:\\out\\cut.med\n" + list + Summary(3, -1, 0, 2, 1, 0, 17820),
       warned},
      {"a --strict dry run", "ns", 0, 1, list + Summary(2, -1, 0, 1, 0, 1, 16776), refused}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.folders = {"D:\\in", "E:\\out"};
    fs.entries = {{"D:\\in\\v.wav", Pcm(4040)},           {"E:\\out\\v.med", med},
                  {"D:\\in\\cut.wav", Pcm(250, 4000)},    {"E:\\out\\cut.med", med},
                  {"D:\\in\\same.wav", WithTag(med, 17)}, {"E:\\out\\same.med", med}};
    fs.failAt["Replace"] = test.failReplace;
    const Ran ran = RunOn(fs, Options("D:\\in", "E:\\out", std::string("f") + test.flags));
    EXPECT_EQ(ran.code, test.code);
    EXPECT_EQ(ran.out, WithOwnSeparators(test.out));
    EXPECT_EQ(ran.err, WithOwnSeparators(test.err));
    const bool wrote = std::strchr(test.flags, 'n') == nullptr;
    EXPECT_EQ(fs.entries.at("E:\\out\\v.med").size(), wrote ? 1084u : med.size());
    EXPECT_EQ(fs.entries.at("E:\\out\\cut.med") == med,
              !wrote || test.failReplace != 0 || std::strchr(test.flags, 's') != nullptr);
    EXPECT_EQ(fs.entries.at("E:\\out\\same.med"), med);
  }
}

// A backup keeps the game's own .med once, whatever later runs replace; a restore puts it back,
// leaving a file that is the same already; a backup that fails fails its file, the old .med kept.
TEST(RunCli, KeepsTheFirstVersionOfEachOutputAndPutsItBack) {
  FakeFileSystem fs;
  fs.folders = {"D:\\in", "E:\\game", "E:\\mod"};  // the backup folder is made in E:\mod
  const Bytes old = PlayableSound(3000, 122, 3), edit = PlayableSound(3000, 17, 2);
  fs.entries = {{"D:\\in\\a.wav", edit}, {"E:\\game\\a.med", old}, {"E:\\game\\b.med", old}};
  CliOptions keep = Options("D:\\in", "E:\\game", "");
  keep.backup = "E:\\mod\\keep";
  for (const int backedUp : {1, 0}) {
    SCOPED_TRACE(backedUp == 1 ? "the first run" : "a second one");
    fs.entries["D:\\in\\a.wav"] = Poke(edit, 2999, backedUp, 1);
    const Ran ran = RunOn(fs, keep);
    EXPECT_EQ(ran.out, "Summary: 1 file, 1 converted (0 new), " + std::to_string(backedUp) +
                           " backed up, 0 warnings, 0 failed, 0 skipped, 3000 bytes written\n");
    EXPECT_EQ(fs.entries.at("E:\\game\\a.med"), WithTag(fs.entries.at("D:\\in\\a.wav"), 122));
    EXPECT_EQ(fs.entries.at("E:\\mod\\keep\\a.med"), old);
  }
  CliOptions restore = Options("E:\\game", "-", "");
  restore.restore = "E:\\mod\\keep";
  const std::string line = WithOwnSeparators("E:\\mod\\keep\\a.med -> E:\\game\\a.med\n");
  for (const auto& [out, restored] :
       {std::pair{line + "Summary: 1 file, 1 restored, 0 unchanged, 0 failed, 0 skipped, 3000 "
                         "bytes written\n",
                  true},
        {"Summary: 1 file, 0 restored, 1 unchanged, 0 failed, 0 skipped, 0 bytes written\n",
         false}}) {
    const auto before = fs.entries;
    const Ran ran = RunOn(fs, restore);
    EXPECT_EQ(ran.code, 0);
    EXPECT_EQ(ran.out, out);
    EXPECT_EQ(fs.entries.at("E:\\game\\a.med"), old);
    EXPECT_EQ(fs.entries == before, !restored) << "nothing but a.med changes";
  }
  fs.entries.erase("E:\\mod\\keep\\a.med");
  fs.failAt["CreateNew"] = fs.calls["CreateNew"] + 1;  // the copy kept: its output is not written
  const Ran failed = RunOn(fs, keep);
  EXPECT_EQ(failed.code, 1);
  EXPECT_EQ(failed.err, WithOwnSeparators("Error create file \"E:\\mod\\keep\\a.med\""));
  EXPECT_EQ(fs.entries.at("E:\\game\\a.med"), old);
  keep.backup = "E:\\game";  // DEST itself, where every output is a kept file already
  const auto entries = fs.entries;
  EXPECT_EQ(RunOn(fs, keep).code, 2);
  EXPECT_EQ(fs.entries, entries) << "nothing replaced, with nothing kept";
}

// A watch on a scripted clock: b.wav appears, saved in two writes 300 ms apart, and is converted
// once, after the second; a.wav is saved again and converted again; the watch ends on its clock.
TEST(RunCli, WatchConvertsEachFileOnceItHasSettled) {
  struct Script final : WatchClock {
    FakeFileSystem fs;
    std::map<std::uint64_t, std::pair<std::string, Bytes>> saves;  // by time: path, content
    std::uint64_t now = 0;
    std::uint64_t Now() override { return now; }
    void Sleep(std::uint64_t milliseconds) override {
      for (auto at = saves.upper_bound(now); at != saves.upper_bound(now + milliseconds); ++at) {
        fs.entries[at->second.first] = at->second.second;
        fs.changed[at->second.first] = at->first;
      }
      now += milliseconds;
    }
    bool Stopped() override { return now >= 9000; }
  } script;
  FakeFileSystem& disk = script.fs;
  disk.folders = {"D:\\in", "E:\\out"};
  const Bytes a = PlayableSound(3000, 17, 1), b = PlayableSound(3000, 17, 2);
  disk.entries = {{"D:\\in\\a.wav", a}};
  script.saves = {{2000, {"D:\\in\\b.wav", Bytes(b.begin(), b.begin() + 1500)}},
                  {2300, {"D:\\in\\b.wav", b}},
                  {5000, {"D:\\in\\a.wav", Poke(a, 2999, 9, 1)}}};
  // a.wav saved again and c.wav saved new while the first run reads: the watch takes both.
  disk.onRead = [&disk, &b](Bytes&) {
    if (disk.entries.emplace("D:\\in\\c.wav", b).second) ++disk.changed["D:\\in\\a.wav"];
  };
  CliOptions options = Options("D:\\in", "E:\\out", "");
  options.watch = true;
  const Ran ran = RunOn(disk, options, true, &script);
  EXPECT_EQ(ran.code, 0);
  EXPECT_EQ(ran.out,
            "Summary: 5 files, 5 converted (3 new), 0 warnings, 0 failed, 0 skipped, 15000 bytes "
            "written\n");
  const std::string aLine = "\nD:\\in\\a.wav -> E:\\out\\a.med";
  EXPECT_EQ(ran.err,
            WithOwnSeparators("[100%] 1/1 a.wav\ntonequay-cli: watching \"D:\\in\" for changes; "
                              "Ctrl-C ends the watch" +
                              aLine +
                              "\nD:\\in\\c.wav -> E:\\out\\c.med\nD:\\in\\b.wav -> E:\\out\\b.med" +
                              aLine));
  EXPECT_EQ(disk.entries.at("E:\\out\\b.med"), WithTag(b, 122));
  EXPECT_EQ(disk.entries.at("E:\\out\\a.med"), WithTag(Poke(a, 2999, 9, 1), 122));
  // In place, what the first run wrote is no edit: a.med's a.wav is not converted back.
  decltype(script) inPlace;
  inPlace.fs.folders = {"D:\\in"};
  inPlace.fs.entries = {{"D:\\in\\a.med", WithTag(a, 122)}};
  options.dest = "D:\\in";
  const Ran same = RunOn(inPlace.fs, options, false, &inPlace);
  EXPECT_EQ(same.err, WithOwnSeparators(
                          "tonequay-cli: watching \"D:\\in\" for changes; Ctrl-C ends the watch"));
}

TEST(RunCli, WaitsForEnterOnlyInAConsoleOfItsOwn) {
  // 0: no console window (a pipe, a terminal); 2 or more: a console a shell or script opened.
  for (const int count : {0, 2, 3}) EXPECT_FALSE(ClosesWithTheProgram(count)) << count;
  EXPECT_TRUE(ClosesWithTheProgram(1));
}
