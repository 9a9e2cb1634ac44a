// Header acceptance, the tag toggle and output names, under no lead bytes and Shift-JIS's.
#include "convert/sound_rules.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"

namespace {

TEST(SoundRules, AHeaderIsAcceptedWhenAnyOneMarkHoldsAndItsTagIsToggled) {
  const std::tuple<const char*, std::uint16_t, bool> headers[] = {
      // bytes 0-3 and 8-11, tag
      {"RIFFWAVE", 1, true},   {"RIFFXXXX", 0, true},       {"XXXXWAVE", 0, true},
      {"XXXXXXXX", 122, true}, {"XXXXXXXX", 17, true},      {"XXXXXXXX", 1, false},
      {"riffwave", 0, false},  {"XXXXXXXX", 0x7A00, false}, {"XXXXXXXX", 0x1100, false}};
  for (const auto& [marks, tag, accepted] : headers) {
    const Bytes file = SoundFile(40, tag);
    SoundHeader header;
    std::copy(file.begin(), file.end(), header.begin());
    std::copy(marks, marks + 4, header.begin());
    std::copy(marks + 4, marks + 8, header.begin() + 8);
    EXPECT_EQ(IsAcceptedHeader(header), accepted) << marks << " " << tag;
    EXPECT_EQ(FormatTagOf(header), tag);
    EXPECT_EQ(ToggleFormatTag(tag), tag == 122 ? 17 : 122);
  }
  EXPECT_EQ(ToggleFormatTag(0xFFFF), 122);
}

TEST(SoundRules, OutputNamesSwapTheExtensionAfterTheLastRealDelimiter) {
  LeadByteSet sjis;  // Shift-JIS: 0x81-0x9F and 0xE0-0xFC start a two-byte character
  for (int b = 0x81; b <= 0xFC; ++b) sjis.set(b, b <= 0x9F || b >= 0xE0);
  const std::tuple<bool, const char*, const char*, const char*> cases[] = {
      // Shift-JIS or not, the name, its extension and its output name.
      {false, "MiXeD.MeD", ".MeD", "MiXeD.wav"},
      {false, "Track.WAV", ".WAV", "Track.med"},
      {false, "a.b.med", ".med", "a.b.wav"},
      {false, "noext", "", "noext.med"},
      {false, "name.", ".", "name.med"},
      {false, "x.medx", ".medx", "x.med"},
      {false, ".med", ".med", ".wav"},
      {false, "a.med\\b", "", "a.med\\b.med"},
      {false, "a.b:c", "", "a.b:c.med"},
      {false, "snd\x81.wav", ".wav", "snd\x81.med"},
      // 0x95 0x5C is one character whose trail byte reads as '\': the '.' before it counts.
      {true, "dir.x\x95\\name", ".x\x95\\name", "dir.med"},
      {true, "snd\x81.wav", "", "snd\x81.wav.med"},  // 0x81 0x2E: a trail byte reads as '.'
      // An even run of lead bytes is whole characters; an odd run swallows the '.' after it.
      {true, "x\x81\x81.med", ".med", "x\x81\x81.wav"},
      {true, "x.med\x81\x81\x81.", ".med\x81\x81\x81.", "x.med"},
      {true, "kana\x83\x8D.MED", ".MED", "kana\x83\x8D.wav"}};
  for (const auto& [doubleByte, name, extension, output] : cases) {
    const LeadByteSet& lead = doubleByte ? sjis : LeadByteSet{};
    EXPECT_EQ(ExtensionOf(name, lead), extension) << name;
    EXPECT_EQ(OutputNameFor(name, lead), output) << name;
  }
  EXPECT_EQ(WithExtension(std::string(255, 'n') + ".med", ".longer", {}).size(), 262u);
}

}  // namespace
