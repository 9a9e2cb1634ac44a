// What a batch needs from the window: folder texts, the list, message boxes, bars, buttons.
#pragma once

#include <string>

#include "convert/file_list.h"
#include "convert/file_system.h"

enum class MessageIcon { Error, Information };

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
};
