// The terminal's progress line: a long name loses its middle, never a part of a character.
#include "cli/terminal_ui.h"

#include <gtest/gtest.h>

#include "cli/console.h"
#include "convert/batch.h"
#include "fakes/fakes.h"

// ASCII, CJK, emoji and mixed names at every width from the prefix's own up. The last column stays
// free; a cut keeps both ends in whole characters, losing at most 3 bytes of room either side.
TEST(ProgressLine, CutsALongNameInTheMiddleBetweenCharacters) {
  const std::string prefix = "[ 42%] 7/12 ";
  for (const std::string name :
       {"0001 the title theme, long version.wav", "サウンド効果の長い名前です.med",
        "🎵🎶🎸🥁🎺🎻🎹🎷.wav", "Кириллица 한국어 🎵 ÿ.med"}) {
    for (std::size_t limit = prefix.size() - 1; limit <= prefix.size() + name.size(); ++limit) {
      SCOPED_TRACE(name + " in " + std::to_string(limit + 1) + " columns");
      const std::string line = ProgressLine(42, 7, 12, name, static_cast<int>(limit + 1));
      const bool cut = prefix.size() + name.size() > limit;
      if (!cut || limit < prefix.size() + 4) {  // whole, or no room for a character and "..."
        EXPECT_EQ(line, cut ? prefix.substr(0, limit) : prefix + name);
        continue;
      }
      const std::size_t head = line.find("...", prefix.size()) - prefix.size();
      const std::size_t tail = line.size() - prefix.size() - head - 3;
      ASSERT_LE(head + tail, name.size()) << line;
      EXPECT_EQ(line, prefix + name.substr(0, head) + "..." + name.substr(name.size() - tail));
      EXPECT_TRUE(line.size() <= limit && line.size() + 6 >= limit) << line.size();
      for (const std::size_t at : {head, name.size() - tail})  // no continuation byte
        EXPECT_NE(static_cast<unsigned char>(name[at]) & 0xC0, 0x80) << at;
    }
  }
}

// A failure line ends with why: the system's words for the file's first failure (none from before
// the file), or for a file not accepted what its format lacks; a check before any file, nothing.
TEST(TerminalUi, AFailureLineEndsWithWhyWhereThereIsAReason) {
  struct Case {
    const char* what;
    const char* failing;  // the operation that fails at its first call
    Bytes data;           // a.med's
    bool full;            // the destination's volume has no free cluster
    std::string line;     // standard error, '\' as the batch joins paths
  };
  const Bytes mp3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const Case cases[] = {
      {"a create refused", "CreateNew", SoundFile(64, 122), false,
       "Error create file \"E:\\out\\a.wav\": Read-only file system"},
      {"an MP3 named .med", "", mp3, false,
       "Not supported MED file \"D:\\snd\\a.med\": not a RIFF/WAVE file"},
      {"no room", "", SoundFile(64, 122), true, "Not enough free space on destination path"}};
  bool (*const kNever)() = [] { return false; };  // no Ctrl-C
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.entries["D:\\snd\\a.med"] = test.data;
    if (test.full) fs.space = {1, 1, 0, 9};
    fs.failAt[test.failing] = 1;
    fs.failText = "Read-only file system";
    fs.errorText = "a search before the batch failed";
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    TerminalUi ui("D:\\snd", "E:\\out", ProgressStyle{true}, out, kNever, fs);
    ui.List().Add("a.med");
    ConvertBatch(ui, fs);
    std::rewind(out);
    char text[200];
    const std::size_t length = std::fread(text, 1, sizeof text, out);
    std::fclose(out);
    EXPECT_EQ(std::string(text, length), ForDisplay(test.line) + "\n");
  }
}
