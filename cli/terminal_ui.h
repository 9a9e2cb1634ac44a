// The terminal standing in for the window: a progress line, one line per failure, no boxes.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "convert/batch_ui.h"
#include "convert/file_list.h"
#include "convert/file_system.h"

// How progress is shown on standard error.
struct ProgressStyle {
  bool quiet = false;          // failures only
  bool redraw = false;         // a terminal: one line redrawn in place, else one line per file
  int columns = 0;             // terminal width; 0 when unknown
  const char* eraseTail = "";  // ends a redrawn line; empty means pad with spaces instead
};

// The progress text for a file: total percentage, position in the list and name, whose middle
// is cut so that the line stays within `columns` (never cut when `columns` is 0).
std::string ProgressLine(int percent, int position, int count, const std::string& name,
                         int columns);

class TerminalUi final : public BatchUi {
 public:
  // The batch gets both folders as full paths, and each message shows them as given here.
  // `interrupted` tells whether Ctrl-C was pressed; it is asked between files. A file's failure
  // line ends with why, in the words of `fs` or of the file's format.
  TerminalUi(std::string sourceFolder, std::string destFolder, const ProgressStyle& style,
             std::FILE* out, bool (*interrupted)(), FileSystem& fs);

  std::string SourceText() override { return fullSource_; }
  std::string DestText() override { return fullDest_; }
  FileList& List() override { return names_; }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  void SetCurrentBar(int /*value*/) override {}
  void SetTotalBar(int value) override { percent_ = value; }
  void EnableBrowse(bool /*enable*/) override {}
  void SetConvertCaption(const std::string& /*caption*/) override {}
  void SetConvertTip(const std::string& /*tip*/) override {}
  void Pump() override;

  // Shows `line` on a line of its own, above the progress line.
  void Warn(const std::string& line);
  // Removes the progress line once the batch has ended, before the summary is printed.
  void Finish() { ClearLine(); }
  // Shows no more progress: each file then has a line of its own from the caller.
  void HideProgress() { style_.quiet = true; }
  // True when an interrupt reached the batch as an abort request.
  bool AbortRequested() const { return abortRequested_; }

 private:
  class Names final : public NameList {
   public:
    explicit Names(TerminalUi& owner) : owner_(owner) {}
    void Select(int index) override;

   private:
    TerminalUi& owner_;
  };

  void OnSelect(int index);
  void CheckInterrupt();
  std::string CurrentLine() const;
  void DrawLine();
  void ClearLine();
  void Put(const std::string& text);
  void PutAbove(const std::string& line);
  std::string AsGiven(const std::string& text) const;
  std::string Reason(const std::string& text);

  std::string sourceFolder_;
  std::string destFolder_;
  std::string fullSource_;
  std::string fullDest_;
  ProgressStyle style_;
  std::FILE* out_;
  bool (*interrupted_)();
  FileSystem& fs_;
  Names names_{*this};
  int selected_ = -1;
  int percent_ = 0;
  bool abortRequested_ = false;
  std::size_t drawnLength_ = 0;  // bytes of the progress line on screen; 0 when none
};
