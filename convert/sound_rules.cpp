// Header acceptance, tag toggling and output naming, with double-byte-aware name scanning.
#include "convert/sound_rules.h"

#include <cstddef>

namespace {

bool BytesEqual(const SoundHeader& header, std::size_t offset, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (header[offset + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

bool IsLead(const LeadByteSet& leadBytes, char c) {
  return leadBytes.test(static_cast<unsigned char>(c));
}

// Index of the last of `delimiters` that is not the trail byte of a double-byte character, or
// npos. A delimiter is a trail byte when an odd run of lead bytes ends just before it.
std::size_t LastDelimiter(std::string_view name, const LeadByteSet& leadBytes,
                          std::string_view delimiters = ".\\:") {
  std::size_t i = name.size();
  while (i > 0) {
    --i;
    if (delimiters.find(name[i]) == std::string_view::npos) continue;
    std::size_t run = 0;
    while (run < i && IsLead(leadBytes, name[i - 1 - run])) ++run;
    if (run % 2 == 0) return i;
    --i;  // skip the lead byte too; the loop steps to the byte before it
  }
  return std::string_view::npos;
}

}  // namespace

bool IsAcceptedHeader(const SoundHeader& header) {
  const std::uint16_t tag = FormatTagOf(header);
  const bool riff = BytesEqual(header, 0, "RIFF");
  const bool wave = BytesEqual(header, 8, "WAVE");
  // The conversion rewrites byte 20, which is the format tag only when the format chunk comes
  // first; in a RIFF/WAVE file whose first chunk is another, it would corrupt that chunk.
  if (riff && wave && !BytesEqual(header, 12, "fmt ")) return false;
  return riff || wave || tag == kMedFormatTag || tag == kWavFormatTag;
}

std::uint16_t FormatTagOf(const SoundHeader& header) {
  return static_cast<std::uint16_t>(header[kFormatTagOffset] | (header[kFormatTagOffset + 1] << 8));
}

std::uint16_t ToggleFormatTag(std::uint16_t tag) {
  return tag == kMedFormatTag ? kWavFormatTag : kMedFormatTag;
}

void ToggleTagBytes(std::uint8_t* tag) {
  const std::uint16_t toggled = ToggleFormatTag(static_cast<std::uint16_t>(tag[0] | tag[1] << 8));
  tag[0] = static_cast<std::uint8_t>(toggled & 0xFF);
  tag[1] = static_cast<std::uint8_t>(toggled >> 8);
}

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string ToLowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = ToLowerAscii(c);
  return result;
}

// The last byte is compared, not the last character: a folder ending in a double-byte
// character whose trail byte is 0x5C gets no backslash of its own.
std::string WithTrailingBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

std::string FolderPartOf(std::string_view path, const LeadByteSet& leadBytes) {
  const std::size_t at = LastDelimiter(path, leadBytes, "\\");
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string ExtensionOf(std::string_view name, const LeadByteSet& leadBytes) {
  const std::size_t at = LastDelimiter(name, leadBytes);
  if (at == std::string_view::npos || name[at] != '.') return {};
  return std::string(name.substr(at));
}

std::string WithExtension(std::string_view name, std::string_view ext,
                          const LeadByteSet& leadBytes) {
  const std::size_t at = LastDelimiter(name, leadBytes);
  std::string result(name);
  if (at != std::string_view::npos && name[at] == '.') result.resize(at);
  result.append(ext);
  return result;
}

bool IsMedName(std::string_view name, const LeadByteSet& leadBytes) {
  return ToLowerAscii(ExtensionOf(name, leadBytes)) == ".med";
}

std::string OutputNameFor(std::string_view name, const LeadByteSet& leadBytes) {
  return WithExtension(name, IsMedName(name, leadBytes) ? ".wav" : ".med", leadBytes);
}
