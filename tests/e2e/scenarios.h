// The scenario groups of the e2e driver; each starts tonequay.exe afresh and checks screen and
// disk.
#pragma once

#include <string>

#include "tests/e2e/fixtures.h"
#include "tests/e2e/harness.h"

struct Context {
  const Options& options;
  Report& report;
  // A folder of the fixture tree reserved for one scenario, e.g. Folder(L"conv") = T:\conv.
  std::wstring Folder(const std::wstring& name) const { return options.fixtures + name; }
};

// What the controls show, compared before and after something that must change nothing.
struct ControlState {
  std::wstring source;
  std::wstring dest;
  std::vector<std::wstring> items;
  int selection = 0;
  int currentBar = 0;
  int totalBar = 0;
  std::wstring caption;
  bool sourceEnabled = false;
  bool destEnabled = false;
  bool operator==(const ControlState& other) const;
  std::string Describe() const;
};
ControlState StateOf(const Controls& controls);

// Text of the tool registered for `control`, or "<none>".
std::wstring TipOf(const Program& program, HWND control);
// The output name a conversion gives `name`: ".med" (any case) becomes ".wav", else ".med".
std::wstring OutputName(const std::wstring& name);
// The temporary files a batch may leave behind in `folder`.
std::vector<std::wstring> TempFiles(const std::wstring& folder);
// Writes the sound files and returns their names in the order the folder lists them.
std::vector<std::wstring> MakeSounds(const std::wstring& folder,
                                     const std::vector<std::wstring>& names, std::uint16_t tag,
                                     std::uint32_t blocks);
// Checks that every file listed converted correctly from `source` into `dest`.
void CheckConverted(Report& report, const std::wstring& source, const std::wstring& dest,
                    const std::vector<std::wstring>& names, const std::string& what);

void StartupScenario(Context& context);
void PrecheckScenario(Context& context);
void PickerScenario(Context& context);
void ConvertScenario(Context& context);
void FailureScenario(Context& context);
void AbortScenario(Context& context);
void WebLinkScenario(Context& context);
void ThemeScenario(Context& context);
void ScreenshotScenario(Context& context);
