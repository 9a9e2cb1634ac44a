// The file list and the batch's view of the window, over the main window's controls.
#pragma once

#include "convert/batch_ui.h"
#include "convert/file_list.h"
#include "convert/file_system_win.h"

class WinFileList final : public FileList {
 public:
  int Count() const override;
  std::string Item(int index) const override;
  void Select(int index) override;
  void Clear() override;
  void Add(const std::string& name) override;
};

class WinBatchUi final : public BatchUi {
 public:
  std::string SourceText() override;
  std::string DestText() override;
  FileList& List() override;
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  void SetCurrentBar(int value) override;
  void SetTotalBar(int value) override;
  void EnableBrowse(bool enable) override;
  void SetConvertCaption(const std::string& caption) override;
  void SetConvertTip(const std::string& tip) override;
  void Pump() override;
};

// One of each for the whole run.
extern WinFileList MainFileList;
extern WinBatchUi MainBatchUi;
extern WinFileSystem MainFileSystem;
