// What a batch needs from the window: folder texts, the list, message boxes, bars, buttons.
#pragma once

#include <string>

#include "convert/file_list.h"
#include "convert/file_system.h"

enum class MessageIcon { Error, Information };
// Who wrote a file's output: the batch's copy with the tag toggled, or the window itself.
enum class OutputWrite { Copy, Written, Failed };

class BatchUi {
 public:
  virtual ~BatchUi() = default;

  // Text of the source folder field (at most 259 characters).
  virtual std::string SourceText() = 0;
  // Text of the destination folder field (at most 259 characters).
  virtual std::string DestText() = 0;
  // The file list the batch converts.
  virtual FileList& List() = 0;
  // A modal message with an OK button, owned by the main window.
  virtual void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) = 0;
  // Position of the current-file bar (range 0 to 100, larger values passed on as they are).
  virtual void SetCurrentBar(int value) = 0;
  // Position of the total bar (range 0 to 100, larger values passed on as they are).
  virtual void SetTotalBar(int value) = 0;
  // Enables or disables both folder buttons, the source one first.
  virtual void EnableBrowse(bool enable) = 0;
  // Caption of the Convert button.
  virtual void SetConvertCaption(const std::string& caption) = 0;
  // Tooltip of the Convert button, replaced whole.
  virtual void SetConvertTip(const std::string& tip) = 0;
  // Dispatches every message already queued for the window, never waiting for more.
  virtual void Pump() = 0;
  // Whether the file just selected is converted; one turned away counts as failed, and saying
  // why is left to the implementation. The window converts every file.
  virtual bool Admits(int /*index*/) { return true; }
  // The name below the destination folder that file `index` is written under, given
  // `ruleName`, the one the sound rules give it. The window writes the rule's name.
  virtual std::string OutputNameOf(int /*index*/, const std::string& ruleName) { return ruleName; }
  // Writes the output of admitted file `index` into `file`, the empty temporary output, instead
  // of the batch's copy: Written with `bytes` its size, Failed once it has said why, or Copy to
  // leave it to the batch. The window leaves every file to the batch.
  virtual OutputWrite WriteOutput(int /*index*/, FileSystem& /*fs*/, FileHandle /*file*/,
                                  std::uint64_t& /*bytes*/) {
    return OutputWrite::Copy;
  }
  // True when WriteOutput writes file `index` anew from its decoded sound, so its header need
  // not be one that toggling the tag at byte 20 converts. The window toggles every file's tag.
  virtual bool WritesAnew(int /*index*/) { return false; }
};
