// Header acceptance and output names; the batch's tests show the tag read and toggled.
#include "convert/sound_rules.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fakes/fakes.h"

TEST(SoundRules, AHeaderIsAcceptedWhenAnyOneMarkHolds) {
  // Bytes 0-3, 8-11 and, where given, 12-15 (else "fmt "), the tag, accepted.
  const std::tuple<const char*, std::uint16_t, bool> headers[] = {
      {"RIFFWAVE", 1, true},        {"RIFFXXXX", 0, true},       {"XXXXWAVE", 0, true},
      {"XXXXXXXX", 122, true},      {"XXXXXXXX", 17, true},      {"XXXXXXXX", 1, false},
      {"riffwave", 0, false},       {"XXXXXXXX", 0x7A00, false}, {"XXXXXXXX", 0x1100, false},
      {"RIFFWAVEJUNK", 122, false}, {"RIFFXXXXJUNK", 122, true}, {"XXXXWAVEJUNK", 122, true}};
  for (const auto& [marks, tag, accepted] : headers) {
    SoundHeader header;
    std::copy_n(SoundFile(header.size(), tag).begin(), header.size(), header.begin());
    std::copy(marks, marks + 4, header.begin());
    std::copy(marks + 4, marks + std::strlen(marks), header.begin() + 8);
    EXPECT_EQ(IsAcceptedHeader(header), accepted) << marks << " " << tag;
  }
}

TEST(SoundRules, OutputNamesSwapTheExtensionAfterTheLastRealDelimiter) {
  LeadByteSet sjis;  // Shift-JIS: 0x81-0x9F and 0xE0-0xFC start a two-byte character
  for (int b = 0x81; b <= 0xFC; ++b) sjis.set(b, b <= 0x9F || b >= 0xE0);
  // A name and its output name under no lead bytes, then under Shift-JIS.
  const std::pair<const char*, const char*> plain[] = {
      {"MiXeD.MeD", "MiXeD.wav"}, {"Track.WAV", "Track.med"},
      {"a.b.med", "a.b.wav"},     {"noext", "noext.med"},
      {"name.", "name.med"},      {"x.medx", "x.med"},
      {".med", ".wav"},           {"a.med\\b", "a.med\\b.med"},
      {"a.b:c", "a.b:c.med"},     {"snd\x81.wav", "snd\x81.med"}};
  // 0x95 0x5C is one character whose trail reads as '\' (the '.' before it counts); 0x81 0x2E's
  // and 0xFC 0x2E's trails read as '.'; an even run of lead bytes is whole, an odd one takes a '.'.
  const std::pair<const char*, const char*> doubleByte[] = {
      {"dir.x\x95\\name", "dir.med"},           {"snd\x81.wav", "snd\x81.wav.med"},
      {"x\x81\x81.med", "x\x81\x81.wav"},       {"x.med\x81\x81\x81.", "x.med"},
      {"kana\x83\x8D.MED", "kana\x83\x8D.wav"}, {"\xFC.wav", "\xFC.wav.med"}};
  for (const auto& [name, output] : plain) EXPECT_EQ(OutputNameFor(name, {}), output) << name;
  for (const auto& [name, output] : doubleByte) EXPECT_EQ(OutputNameFor(name, sjis), output);
  EXPECT_EQ(WithExtension(std::string(255, 'n') + ".med", ".longer", {}).size(), 262u);
  EXPECT_EQ(FolderPartOf("a\\b\x95\\c", sjis), "a\\");
  EXPECT_EQ(FolderPartOf("a\\b\x95\\c", {}), "a\\b\x95\\");
  EXPECT_EQ(FolderPartOf("c", {}), "");
}
