// Progress for a terminal redraws one line on standard error; anywhere else each converted
// file gets a line of its own, so a log shows what happened in order.
#include "cli/terminal_ui.h"

#include <utility>

#include "cli/console.h"
#include "convert/batch.h"
#include "convert/sound_rules.h"
#include "sound/wave.h"

namespace {

constexpr char kEllipsis[] = "...";

bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string ProgressLine(int percent, int position, int count, const std::string& name,
                         int columns) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "[%3d%%] %d/%d ", percent, position, count);
  std::string line = prefix;
  // The last column is left free: writing into it makes some terminals wrap, and a wrapped
  // line can no longer be redrawn with a carriage return.
  const std::size_t limit = columns > 1 ? static_cast<std::size_t>(columns - 1) : 1;
  if (columns <= 0 || line.size() + name.size() <= limit) return line + name;

  const std::size_t room =
      line.size() + sizeof kEllipsis - 1 < limit ? limit - line.size() - (sizeof kEllipsis - 1) : 0;
  if (room == 0) return line.substr(0, limit);
  // Both ends of a name tell files apart (a number in front, the extension behind), so the
  // middle goes; neither cut splits a UTF-8 character.
  std::size_t headEnd = room / 2;
  while (headEnd > 0 && IsUtf8Continuation(name[headEnd])) --headEnd;
  std::size_t tailStart = name.size() - (room - room / 2);
  while (tailStart < name.size() && IsUtf8Continuation(name[tailStart])) ++tailStart;
  return line + name.substr(0, headEnd) + kEllipsis + name.substr(tailStart);
}

TerminalUi::TerminalUi(std::string sourceFolder, std::string destFolder, const ProgressStyle& style,
                       std::FILE* out, bool (*interrupted)(), FileSystem& fs)
    : sourceFolder_(std::move(sourceFolder)),
      destFolder_(std::move(destFolder)),
      fullSource_(FullPath(sourceFolder_)),
      fullDest_(FullPath(destFolder_)),
      style_(style),
      out_(out),
      interrupted_(interrupted),
      fs_(fs) {}

void TerminalUi::Names::Select(int index) {
  owner_.OnSelect(index);
}

void TerminalUi::ShowMessage(const std::string& text, const std::string& /*title*/,
                             MessageIcon icon) {
  CheckInterrupt();
  // The closing "Done" box has no place here: the summary that follows says more.
  if (icon == MessageIcon::Information) return;
  // A box shown while a file is selected names that file without saying so; a line in a
  // log must name it itself.
  std::string line = text;
  const bool fileInHand = selected_ >= 0 && selected_ < names_.Count();
  if (fileInHand && !sourceFolder_.empty() && text.find('"') == std::string::npos) {
    line += " \"" + WithTrailingBackslash(sourceFolder_) + names_.Item(selected_) + "\"";
  }
  const std::string reason = fileInHand ? Reason(text) : "";
  PutAbove(ForDisplay(AsGiven(line)) + (reason.empty() ? "" : ": " + reason));
}

// Why the file in hand failed: what is wrong with its format when the conversion does not
// accept it, else what the system said of the failure, if anything.
std::string TerminalUi::Reason(const std::string& text) {
  if (text != kNotSupportedText) return fs_.TakeErrorText();
  const WaveFormat format =
      ReadWave(fs_, WithTrailingBackslash(fullSource_) + names_.Item(selected_));
  return ProblemText(format.problem, format);
}

// The batch names a file by its full path; the user knows it by the folder as typed. Of two
// folders that both match, the longer one holds the file.
std::string TerminalUi::AsGiven(const std::string& text) const {
  std::pair<const std::string*, const std::string*> folders[] = {{&fullSource_, &sourceFolder_},
                                                                 {&fullDest_, &destFolder_}};
  if (fullDest_.size() > fullSource_.size()) std::swap(folders[0], folders[1]);
  for (const auto& [full, given] : folders) {
    const std::string quoted = "\"" + WithTrailingBackslash(*full);
    const std::size_t at = full->empty() ? std::string::npos : text.find(quoted);
    if (at != std::string::npos) {
      return text.substr(0, at + 1) + WithTrailingBackslash(*given) +
             text.substr(at + quoted.size());
    }
  }
  return text;
}

void TerminalUi::PutAbove(const std::string& line) {
  const bool hadLine = drawnLength_ > 0;
  ClearLine();
  Put(line + "\n");
  if (hadLine) DrawLine();
}

void TerminalUi::Warn(const std::string& line) {
  PutAbove(ForDisplay(line));
}

void TerminalUi::Pump() {
  if (!style_.quiet) {
    if (style_.redraw) {
      DrawLine();
    } else {
      Put(CurrentLine() + "\n");
    }
  }
  CheckInterrupt();
}

void TerminalUi::OnSelect(int index) {
  selected_ = index;
  // What failed before this file (a search, a folder looked at) is none of its failure lines'.
  fs_.TakeErrorText();
  if (!style_.quiet && style_.redraw) DrawLine();
}

// Only here, on the batch's own thread, is the abort turned into the flag the batch reads;
// the signal handler itself never touches it.
void TerminalUi::CheckInterrupt() {
  if (!interrupted_()) return;
  abortRequested_ = true;
  Converting = false;
}

std::string TerminalUi::CurrentLine() const {
  const std::string name =
      selected_ >= 0 && selected_ < names_.Count() ? names_.Item(selected_) : std::string();
  return ProgressLine(percent_, selected_ + 1, names_.Count(), ForDisplay(name),
                      style_.redraw ? style_.columns : 0);
}

void TerminalUi::DrawLine() {
  const std::string line = CurrentLine();
  std::string text = "\r" + line;
  if (*style_.eraseTail != '\0') {
    text += style_.eraseTail;
  } else if (line.size() < drawnLength_) {
    text.append(drawnLength_ - line.size(), ' ');
  }
  Put(text);
  drawnLength_ = !line.empty() ? line.size() : 1;
}

void TerminalUi::ClearLine() {
  if (drawnLength_ == 0) return;
  if (*style_.eraseTail != '\0') {
    Put(std::string("\r") + style_.eraseTail);
  } else {
    Put("\r" + std::string(drawnLength_, ' ') + "\r");
  }
  drawnLength_ = 0;
}

// One write per piece, so a line on an unbuffered stream reaches the terminal whole.
void TerminalUi::Put(const std::string& text) {
  WriteText(out_, text);
  std::fflush(out_);
}
