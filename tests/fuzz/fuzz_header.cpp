// Fuzzes the header and tag rules with whole files of 0 to 64 bytes: the rules agree with a
// byte-level reading of the header, and a batch over such a file either writes exactly the
// input with its tag toggled or refuses it and writes nothing. Input: the file's bytes.
#include <cstring>
#include <string>

#include "convert/batch.h"
#include "convert/sound_rules.h"
#include "fakes/fake_batch_ui.h"
#include "fakes/fake_file_system.h"
#include "fuzz/fuzz_input.h"

namespace {

constexpr std::size_t kMaxInput = 64;
constexpr std::size_t kTagEnd = kFormatTagOffset + 2;

bool BytesAt(const std::uint8_t* data, std::size_t size, std::size_t at, const char* text) {
  const std::size_t length = std::strlen(text);
  return at + length <= size && std::memcmp(data + at, text, length) == 0;
}

void CheckRules(const std::uint8_t* data, std::size_t size) {
  // The batch reads at most 40 bytes into a zeroed header.
  SoundHeader header{};
  std::memcpy(header.data(), data, size < header.size() ? size : header.size());

  const unsigned expectedTag =
      size >= kTagEnd ? data[kFormatTagOffset] | (data[kFormatTagOffset + 1] << 8) : 0;
  const std::uint16_t tag = FormatTagOf(header);
  if (size >= kTagEnd) FUZZ_CHECK(tag == expectedTag, "tag read little-endian at 20");

  const bool expectedAccepted = BytesAt(data, size, 0, "RIFF") || BytesAt(data, size, 8, "WAVE") ||
                                tag == kMedFormatTag || tag == kWavFormatTag;
  FUZZ_CHECK(IsAcceptedHeader(header) == expectedAccepted, "acceptance follows the header bytes");

  const std::uint16_t toggled = ToggleFormatTag(tag);
  FUZZ_CHECK(toggled == (tag == kMedFormatTag ? kWavFormatTag : kMedFormatTag),
             "122 becomes 17, everything else 122");
  FUZZ_CHECK(ToggleFormatTag(toggled) != toggled, "toggling twice never sticks");
}

void CheckBatch(const std::uint8_t* data, std::size_t size) {
  const FakeFileSystem::Bytes input(data, data + size);
  const FakeFileSystem::Bytes old = {'o', 'l', 'd'};
  FakeFileSystem fs;
  fs.AddFolder("D:\\in");
  fs.AddFolder("E:\\out");
  fs.AddFile("D:\\in\\x.med", input);
  fs.AddFile("E:\\out\\x.wav", old);
  fs.SetDiskSpace({1, 512, 1000, 1000});
  RecordingBatchUi ui;
  ui.sourceText = "D:\\in";
  ui.destText = "E:\\out";
  ui.list.items = {"x.med"};
  Converting = false;
  const BatchSummary summary = ConvertBatch(ui, fs);

  const bool acceptable = size >= kTagEnd && IsAcceptedHeader([&] {
                            SoundHeader header{};
                            std::memcpy(header.data(), data, size < 40 ? size : 40);
                            return header;
                          }());
  FUZZ_CHECK(fs.OpenHandles() == 0, "every handle closed");
  FUZZ_CHECK(fs.Paths().size() == 2, "no temporary file left, nothing else written");
  if (acceptable) {
    FakeFileSystem::Bytes expected = input;
    const std::uint16_t tag = ToggleFormatTag(
        static_cast<std::uint16_t>(input[kFormatTagOffset] | (input[kFormatTagOffset + 1] << 8)));
    expected[kFormatTagOffset] = static_cast<std::uint8_t>(tag & 0xFF);
    expected[kFormatTagOffset + 1] = static_cast<std::uint8_t>(tag >> 8);
    FUZZ_CHECK(summary.converted == 1 && summary.failed == 0, "an accepted file converts");
    FUZZ_CHECK(fs.Data("E:\\out\\x.wav") == expected, "output is the input with its tag toggled");
    FUZZ_CHECK(ui.Boxes() == std::vector<std::string>{"Information: Done"}, "no error box");
  } else {
    FUZZ_CHECK(summary.converted == 0 && summary.failed == 1, "a refused file fails");
    FUZZ_CHECK(fs.Data("E:\\out\\x.wav") == old, "a refused file leaves the old output alone");
    FUZZ_CHECK(ui.Boxes() ==
                   (std::vector<std::string>{"Error: Not supported MED file", "Information: Done"}),
               "one refusal box, then Done");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  CheckRules(data, size);
  CheckBatch(data, size);
  return 0;
}
