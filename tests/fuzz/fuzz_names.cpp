// Fuzzes the name rules on any bytes under any set of lead bytes, against a reading of the
// name character by character from its start, as the code page reads it.
// Input: a lead-byte choice (0 none, 1 Japanese-like, 2 Chinese/Korean-like, 3 sixteen bytes
// of bits for 0x80..0xFF follow), then the name, then optionally a 0 byte and an extension.
#include <string>
#include <vector>

#include "convert/sound_rules.h"
#include "fuzz/fuzz_input.h"

namespace {

LeadByteSet TakeLeadBytes(FuzzInput& input) {
  LeadByteSet set;
  switch (input.Pick(4)) {
    case 1:
      for (unsigned b = 0x81; b <= 0x9F; ++b) set.set(b);
      for (unsigned b = 0xE0; b <= 0xFC; ++b) set.set(b);
      break;
    case 2:
      for (unsigned b = 0x81; b <= 0xFE; ++b) set.set(b);
      break;
    case 3:
      // Every ANSI code page starts its double-byte characters at 0x81 or above, so the
      // ASCII delimiters and letters are never lead bytes.
      for (unsigned i = 0; i < 16; ++i) {
        const std::uint8_t bits = input.Byte();
        for (unsigned bit = 0; bit < 8; ++bit) {
          if ((bits >> bit) & 1) set.set(0x80 + i * 8 + bit);
        }
      }
      break;
    default:
      break;
  }
  return set;
}

struct Reading {
  std::vector<bool> starts;  // a character starts at this offset; the end counts as one
  std::string extension;     // from the last '.' character, when no '\' or ':' follows it
  bool complete = true;      // false when the name ends in a lead byte with no trail byte
};

Reading ReadForward(const std::string& name, const LeadByteSet& leadBytes) {
  Reading reading;
  reading.starts.assign(name.size() + 1, false);
  reading.starts[name.size()] = true;
  std::size_t lastDelimiter = std::string::npos;
  for (std::size_t i = 0; i < name.size();) {
    reading.starts[i] = true;
    const bool lead = leadBytes.test(static_cast<unsigned char>(name[i]));
    if (lead && i + 1 < name.size()) {
      i += 2;
      continue;
    }
    if (lead) reading.complete = false;
    if (!lead && (name[i] == '.' || name[i] == '\\' || name[i] == ':')) lastDelimiter = i;
    ++i;
  }
  if (lastDelimiter != std::string::npos && name[lastDelimiter] == '.') {
    reading.extension = name.substr(lastDelimiter);
  }
  return reading;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void CheckLowerAscii(const std::string& text) {
  const std::string lower = ToLowerAscii(text);
  FUZZ_CHECK(lower.size() == text.size(), "lower-casing keeps the length");
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char expected = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    FUZZ_CHECK(lower[i] == expected, "only A to Z change, each to its small letter");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const LeadByteSet leadBytes = TakeLeadBytes(input);
  const std::string rest = input.Rest();
  const std::size_t zero = rest.find('\0');
  const std::string name = rest.substr(0, zero);
  const std::string newExtension = zero == std::string::npos ? ".med" : rest.substr(zero + 1);

  const Reading reading = ReadForward(name, leadBytes);
  const std::string extension = ExtensionOf(name, leadBytes);
  FUZZ_CHECK(extension == reading.extension, "the extension is the one a forward reading finds");
  FUZZ_CHECK(extension.empty() || (extension[0] == '.' && EndsWith(name, extension)),
             "an extension is a suffix that starts with '.'");
  const std::size_t keep = name.size() - extension.size();
  FUZZ_CHECK(reading.starts[keep], "the extension never starts inside a double-byte character");

  const std::string replaced = WithExtension(name, newExtension, leadBytes);
  FUZZ_CHECK(replaced == name.substr(0, keep) + newExtension,
             "every byte before the extension is kept, then the new extension");

  const bool isMed = ToLowerAscii(extension) == ".med";
  const std::string output = OutputNameFor(name, leadBytes);
  FUZZ_CHECK(output == name.substr(0, keep) + (isMed ? ".wav" : ".med"),
             ".med in any case becomes .wav, anything else .med");
  FUZZ_CHECK(output != name, "no name is its own output name");
  if (reading.complete) {
    // A well-formed name's output carries its new extension where the rules find it again,
    // so converting the output back gives the other kind.
    const std::string back = OutputNameFor(output, leadBytes);
    FUZZ_CHECK(ExtensionOf(output, leadBytes) == (isMed ? ".wav" : ".med"),
               "the output's extension is found again");
    FUZZ_CHECK(back == name.substr(0, keep) + (isMed ? ".med" : ".wav"),
               "converting the output back swaps the extension again");
  }

  CheckLowerAscii(name);
  CheckLowerAscii(newExtension);
  return 0;
}
