// Header acceptance, tag toggling and output names, including double-byte names.
#include "convert/sound_rules.h"

#include <gtest/gtest.h>

namespace {

SoundHeader MakeHeader(const char* riff, const char* wave, std::uint16_t tag) {
  SoundHeader header{};
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<std::uint8_t>(riff[i]);
    header[8 + i] = static_cast<std::uint8_t>(wave[i]);
  }
  header[kFormatTagOffset] = static_cast<std::uint8_t>(tag & 0xFF);
  header[kFormatTagOffset + 1] = static_cast<std::uint8_t>(tag >> 8);
  return header;
}

// A set of lead bytes as the Shift-JIS code page reports them.
LeadByteSet ShiftJisLeadBytes() {
  LeadByteSet set;
  for (int b = 0x81; b <= 0x9F; ++b) set.set(b);
  for (int b = 0xE0; b <= 0xFC; ++b) set.set(b);
  return set;
}

TEST(SoundRules, HeaderIsAcceptedWhenAnyOneMarkHolds) {
  struct Case {
    const char* riff;
    const char* wave;
    std::uint16_t tag;
    bool accepted;
  };
  const Case cases[] = {
      {"RIFF", "WAVE", kMedFormatTag, true},
      {"RIFF", "WAVE", kWavFormatTag, true},
      {"RIFF", "WAVE", 1, true},
      {"RIFF", "XXXX", 0, true},
      {"XXXX", "WAVE", 0, true},
      {"XXXX", "XXXX", kMedFormatTag, true},
      {"XXXX", "XXXX", kWavFormatTag, true},
      {"XXXX", "XXXX", 1, false},
      {"riff", "wave", 0, false},
      {"XXXX", "XXXX", 0x7A00, false},
      {"XXXX", "XXXX", 0x1100, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.riff) + "/" + c.wave + "/" + std::to_string(c.tag));
    EXPECT_EQ(IsAcceptedHeader(MakeHeader(c.riff, c.wave, c.tag)), c.accepted);
  }
}

TEST(SoundRules, TagIsReadLittleEndianAndToggled) {
  EXPECT_EQ(FormatTagOf(MakeHeader("RIFF", "WAVE", 0x1234)), 0x1234);
  const std::pair<std::uint16_t, std::uint16_t> cases[] = {{122, 17}, {17, 122},     {1, 122},
                                                           {0, 122},  {0xFFFF, 122}, {0x7A00, 122}};
  for (const auto& [tag, toggled] : cases) {
    SCOPED_TRACE(tag);
    EXPECT_EQ(ToggleFormatTag(tag), toggled);
  }
}

TEST(SoundRules, ToLowerAsciiLeavesBytesAbove127Alone) {
  EXPECT_EQ(ToLowerAscii("Song.MED@[`{"), "song.med@[`{");
  EXPECT_EQ(ToLowerAscii("\xC4\xD6Z"), "\xC4\xD6z");
}

TEST(SoundRules, OutputNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"Song.MED", "Song.wav"},
      {"song.med", "song.wav"},
      {"Track.wav", "Track.med"},
      {"Track.WAV", "Track.med"},
      {"a.b.med", "a.b.wav"},
      {"noext", "noext.med"},
      {"name.", "name.med"},
      {"x.medx", "x.med"},
      {".med", ".wav"},
      {"a.med\\b", "a.med\\b.med"},
      {"c:x", "c:x.med"},
      {"a.b:c", "a.b:c.med"},
      {"", ".med"},
      {"MiXeD.MeD", "MiXeD.wav"},
  };
  const LeadByteSet none;
  for (const auto& [name, output] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(OutputNameFor(name, none), output);
  }
}

TEST(SoundRules, ExtensionPrimitives) {
  const LeadByteSet none;
  EXPECT_EQ(ExtensionOf("a.b.med", none), ".med");
  EXPECT_EQ(ExtensionOf("dir.x\\file", none), "");
  EXPECT_EQ(ExtensionOf("name.", none), ".");
  EXPECT_EQ(WithExtension("dir.x\\file", ".wav", none), "dir.x\\file.wav");
  // Results have no length limit of their own.
  const std::string longName(255, 'n');
  EXPECT_EQ(WithExtension(longName + ".med", ".longer", none).size(), 255u + 7u);
}

TEST(SoundRules, DelimiterThatIsATrailByteDoesNotCount) {
  const LeadByteSet sjis = ShiftJisLeadBytes();
  struct Case {
    std::string name;
    std::string extension;
    std::string output;
  };
  const Case cases[] = {
      // 0x95 0x5C is one character whose trail byte looks like '\': the '.' before it counts.
      {"dir.x\x95\x5Cname", ".x\x95\x5Cname", "dir.med"},
      // 0x81 0x2E: a trail byte that looks like '.', and no other delimiter.
      {"snd\x81\x2Ewav", "", "snd\x81\x2Ewav.med"},
      // Two lead bytes in a row: the first is a whole character, the '.' is real.
      {"x\x81\x81.med", ".med", "x\x81\x81.wav"},
      // Three lead bytes: an odd run, so the last '.' is a trail byte; the first '.' counts.
      {"x.med\x81\x81\x81.", ".med\x81\x81\x81.", "x.med"},
      {"y.MED\x81.", ".MED\x81.", "y.med"},
      {"kana\x83\x8D.MED", ".MED", "kana\x83\x8D.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtensionOf(c.name, sjis), c.extension);
    EXPECT_EQ(OutputNameFor(c.name, sjis), c.output);
  }
  // Without lead bytes the same bytes are plain delimiters.
  EXPECT_EQ(ExtensionOf("dir.x\x95\x5Cname", LeadByteSet{}), "");
  EXPECT_EQ(ExtensionOf("snd\x81\x2Ewav", LeadByteSet{}), ".wav");
}

}  // namespace
