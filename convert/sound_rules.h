// Which files are accepted, what an output file holds and what it is called.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "convert/file_system.h"

// The first 40 bytes of an input file.
using SoundHeader = std::array<std::uint8_t, 40>;

inline constexpr std::uint32_t kFormatTagOffset = 20;
inline constexpr std::uint16_t kMedFormatTag = 122;  // the game's own tag
inline constexpr std::uint16_t kWavFormatTag = 17;   // the registered IMA ADPCM tag

// True when the header starts "RIFF", reads "WAVE" at 8, or carries either format tag; never
// for a RIFF/WAVE header whose first chunk is not "fmt ".
bool IsAcceptedHeader(const SoundHeader& header);
// The little-endian format tag at kFormatTagOffset.
std::uint16_t FormatTagOf(const SoundHeader& header);
// 122 becomes 17; every other tag becomes 122.
std::uint16_t ToggleFormatTag(std::uint16_t tag);
// Toggles the little-endian format tag held in the two bytes at `tag`.
void ToggleTagBytes(std::uint8_t* tag);

// Lower-cases 'A'..'Z' only; no locale is consulted, so no byte of a double-byte character
// changes.
char ToLowerAscii(char c);
std::string ToLowerAscii(std::string_view text);
// `folder` with '\' appended unless its last byte already is one (an empty folder gets one).
std::string WithTrailingBackslash(std::string folder);
// `path` up to and including its last '\', or empty when it has none.
std::string FolderPartOf(std::string_view path, const LeadByteSet& leadBytes);
// From the last '.' to the end when no '\' or ':' follows it, else empty.
std::string ExtensionOf(std::string_view name, const LeadByteSet& leadBytes);
// `name` with its extension replaced by `ext`, or with `ext` appended when it has none.
std::string WithExtension(std::string_view name, std::string_view ext,
                          const LeadByteSet& leadBytes);
// True when the name's extension is ".med" in any case.
bool IsMedName(std::string_view name, const LeadByteSet& leadBytes);
// A ".med" name (any case) becomes ".wav"; every other name becomes ".med".
std::string OutputNameFor(std::string_view name, const LeadByteSet& leadBytes);
