// Recording of the batch's calls, so a test can compare the whole sequence at once.
#include "fakes/fake_batch_ui.h"

void RecordingBatchUi::ShowMessage(const std::string& text, const std::string& title,
                                   MessageIcon icon) {
  const bool iconMatches = (title == "Error") == (icon == MessageIcon::Error);
  events.push_back("box " + title + (iconMatches ? "" : " (wrong icon)") + ": " + text);
  if (onMessage) onMessage(text);
}

void RecordingBatchUi::Pump() {
  events.push_back("pump");
  if (onPump) onPump();
}

std::vector<std::string> RecordingBatchUi::Boxes() const {
  std::vector<std::string> boxes;
  for (const std::string& event : events) {
    if (event.rfind("box ", 0) == 0) boxes.push_back(event.substr(4));
  }
  return boxes;
}
