// The e2e driver: runs the named scenario groups against tonequay.exe and prints one line per
// check, then "N passed, M failed"; exits non-zero when any check failed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/scenarios.h"

namespace {

struct Scenario {
  const char* name;
  const char* summary;
  void (*run)(Context&);
};

const Scenario kScenarios[] = {
    {"startup", "window, children, keyboard order, tooltips, quiet exit", StartupScenario},
    {"prechecks", "the three refusals of the Convert button", PrecheckScenario},
    {"picker", "the two folder dialogs and the scan", PickerScenario},
    {"convert", "MED to WAV and back, byte for byte", ConvertScenario},
    {"failures", "one box per failed file, the batch goes on", FailureScenario},
    {"abort", "No, then Yes, through Cancel and through closing", AbortScenario},
    {"weblink", "the label's cursor and click", WebLinkScenario},
    {"theme", "WM_THEMECHANGED restores the size", ThemeScenario},
    {"screenshot", "a picture of the window after a conversion", ScreenshotScenario},
};

DWORD g_limitSeconds = 150;

// A last guard: a run that outlives its limit ends with a failure instead of hanging.
DWORD WINAPI Watchdog(void*) {
  Sleep(g_limitSeconds * 1000);
  std::printf("FAIL watchdog: the run took longer than %lu seconds\n", g_limitSeconds);
  std::fflush(stdout);
  ExitProcess(3);
}

std::wstring WithBackslash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

int Usage() {
  std::printf(
      "usage: tonequay-e2e --program EXE --fixtures DIR --url-log FILE --shots DIR\n"
      "                    [--small-disk ROOT] [--fill-disk ROOT] [--limit SECONDS]\n"
      "                    [--list] [SCENARIO...]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  Options options;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--list") {
      for (const Scenario& scenario : kScenarios) {
        std::printf("%-11s %s\n", scenario.name, scenario.summary);
      }
      return 0;
    } else if (arg == L"--program" && hasValue) {
      options.program = argv[++i];
    } else if (arg == L"--fixtures" && hasValue) {
      options.fixtures = WithBackslash(argv[++i]);
    } else if (arg == L"--small-disk" && hasValue) {
      options.smallDisk = WithBackslash(argv[++i]);
    } else if (arg == L"--fill-disk" && hasValue) {
      options.fillDisk = WithBackslash(argv[++i]);
    } else if (arg == L"--url-log" && hasValue) {
      options.urlLog = argv[++i];
    } else if (arg == L"--shots" && hasValue) {
      options.shots = WithBackslash(argv[++i]);
    } else if (arg == L"--limit" && hasValue) {
      g_limitSeconds = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (!arg.empty() && arg[0] != L'-') {
      wanted.push_back(Narrow(arg));
    } else {
      return Usage();
    }
  }
  if (options.program.empty() || options.fixtures.empty() || options.urlLog.empty() ||
      options.shots.empty()) {
    return Usage();
  }
  for (const std::string& name : wanted) {
    bool known = false;
    for (const Scenario& scenario : kScenarios) known = known || name == scenario.name;
    if (!known) {
      std::printf("unknown scenario %s\n", name.c_str());
      return 2;
    }
  }

  CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
  Report report;
  for (const Scenario& scenario : kScenarios) {
    bool run = wanted.empty();
    for (const std::string& name : wanted) run = run || name == scenario.name;
    if (!run) continue;
    report.Begin(scenario.name);
    Context context{options, report};
    scenario.run(context);
  }
  std::printf("%d passed, %d failed", report.Passed(), report.Failed());
  if (report.Skipped() > 0) std::printf(", %d skipped", report.Skipped());
  std::printf("\n");
  return report.Failed() == 0 ? 0 : 1;
}
