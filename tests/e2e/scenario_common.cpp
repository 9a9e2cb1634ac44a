// Helpers the scenario groups share: control snapshots, output names and conversion checks.
#include <algorithm>

#include "tests/e2e/scenarios.h"

bool ControlState::operator==(const ControlState& other) const {
  return source == other.source && dest == other.dest && items == other.items &&
         selection == other.selection && currentBar == other.currentBar &&
         totalBar == other.totalBar && caption == other.caption &&
         sourceEnabled == other.sourceEnabled && destEnabled == other.destEnabled;
}

std::string ControlState::Describe() const {
  std::string list;
  for (const std::wstring& item : items) list += (list.empty() ? "" : ",") + Narrow(item);
  return "source=" + Narrow(Quote(source)) + " dest=" + Narrow(Quote(dest)) + " list=[" + list +
         "] selection=" + std::to_string(selection) + " bars=" + std::to_string(currentBar) + "/" +
         std::to_string(totalBar) + " caption=" + Narrow(Quote(caption)) +
         " browse=" + (sourceEnabled ? "on" : "off") + "/" + (destEnabled ? "on" : "off");
}

ControlState StateOf(const Controls& controls) {
  ControlState state;
  state.source = TextOf(controls.sourceEdit);
  state.dest = TextOf(controls.destEdit);
  state.items = ListItems(controls.fileList);
  state.selection = ListSelection(controls.fileList);
  state.currentBar = BarPosition(controls.currentBar);
  state.totalBar = BarPosition(controls.totalBar);
  state.caption = TextOf(controls.convert);
  state.sourceEnabled = IsWindowEnabled(controls.sourceBrowse) != FALSE;
  state.destEnabled = IsWindowEnabled(controls.destBrowse) != FALSE;
  return state;
}

std::wstring TipOf(const Program& program, HWND control) {
  for (const Tool& tool : program.Tools()) {
    if (reinterpret_cast<HWND>(tool.id) == control) return tool.text;
  }
  return L"<none>";
}

std::wstring OutputName(const std::wstring& name) {
  const size_t dot = name.find_last_of(L".\\:");
  const bool hasExtension = dot != std::wstring::npos && name[dot] == L'.';
  std::wstring extension = hasExtension ? name.substr(dot) : L"";
  std::transform(extension.begin(), extension.end(), extension.begin(), ::towlower);
  const std::wstring stem = hasExtension ? name.substr(0, dot) : name;
  return stem + (extension == L".med" ? L".wav" : L".med");
}

std::vector<std::wstring> TempFiles(const std::wstring& folder) {
  return Names(folder, L"~tonequay-*");
}

std::vector<std::wstring> MakeSounds(const std::wstring& folder,
                                     const std::vector<std::wstring>& names, std::uint16_t tag,
                                     std::uint32_t blocks) {
  MakeFolder(folder);
  std::uint32_t seed = static_cast<std::uint32_t>(folder.size()) * 7919;
  for (const std::wstring& name : names)
    WriteBytes(folder + L"\\" + name, MakeSound(tag, blocks, ++seed));
  return Names(folder, L"*");
}

void CheckConverted(Report& report, const std::wstring& source, const std::wstring& dest,
                    const std::vector<std::wstring>& names, const std::string& what) {
  for (const std::wstring& name : names) {
    Bytes input;
    Bytes output;
    const std::wstring outputName = OutputName(name);
    ReadBytes(source + L"\\" + name, input);
    const bool read = ReadBytes(dest + L"\\" + outputName, output);
    const std::uint16_t tag = input.size() >= 22 ? (input[20] | (input[21] << 8)) : 0;
    const Bytes expected = WithTag(input, tag == kMedTag ? kWavTag : kMedTag);
    report.Check(
        read && output == expected,
        what + ": " + Narrow(outputName) + " holds " + Narrow(name) + " with the tag swapped",
        read ? std::to_string(output.size()) + " bytes, expected " + std::to_string(expected.size())
             : "missing");
  }
}
