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
      ASSERT_TRUE(line.size() <= limit && line.size() + 6 >= limit) << line;
      EXPECT_EQ(line, prefix + name.substr(0, head) + "..." + name.substr(name.size() - tail));
      for (const std::size_t at : {head, name.size() - tail})  // no continuation byte
        EXPECT_NE(static_cast<unsigned char>(name[at]) & 0xC0, 0x80) << at;
    }
  }
}

// A failure line ends with why: the system's words for the file's first failure (none from before
// the file), or for a file not accepted what its format lacks; a check before any file, nothing.
TEST(TerminalUi, AFailureLineEndsWithWhyWhereThereIsAReason) {
  const Bytes mp3 = Poke(Bytes(24), 0, 0x03334449, 4);  // "ID3", version 3
  const std::tuple<const char*, Bytes, std::string> cases[] = {
      {"CreateNew", SoundFile(40, 122),
       "Error create file \"E:\\out\\a.wav\": Read-only file system"},
      {"", mp3, "Not supported MED file \"D:\\snd\\a.med\": not a RIFF/WAVE file"},
      {"", SoundFile(41, 122), "Not enough free space on destination path"}};
  for (const auto& [failing, data, line] : cases) {
    SCOPED_TRACE(line);
    FakeFileSystem fs;
    fs.entries["D:\\snd\\a.med"] = data;
    fs.space = {1, 1, 40, 9};  // 40 bytes free
    fs.failAt[failing] = 1;
    fs.failText = "Read-only file system";
    fs.errorText = "a search before the batch failed";
    TerminalUi ui("D:\\snd", "E:\\out", ProgressStyle{true}, stderr, InterruptRequested, fs);
    ui.List().Add("a.med");
    testing::internal::CaptureStderr();
    ConvertBatch(ui, fs);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ForDisplay(line) + "\n");
  }
}
