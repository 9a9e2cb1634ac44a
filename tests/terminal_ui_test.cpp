// The terminal's progress line: a long name loses its middle, never a part of a character.
#include "cli/terminal_ui.h"

#include <gtest/gtest.h>

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
