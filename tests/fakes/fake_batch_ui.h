// A file list over a vector and a batch UI that records every call as one line of text.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "convert/batch_ui.h"

class VectorFileList final : public FileList {
 public:
  std::vector<std::string> items;
  int selected = -1;

  int Count() const override { return static_cast<int>(items.size()); }
  std::string Item(int index) const override { return items.at(static_cast<std::size_t>(index)); }
  void Select(int index) override { selected = index; }
  void Clear() override { items.clear(); }
  void Add(const std::string& name) override { items.push_back(name); }
};

// Lines read like "box Error: Please select files first", "total 25", "caption Cancel".
class RecordingBatchUi final : public BatchUi {
 public:
  std::string sourceText;
  std::string destText;
  VectorFileList list;
  std::vector<std::string> events;
  // Called inside Pump() and ShowMessage(); may clear Converting to model a confirmed abort.
  std::function<void()> onPump;
  std::function<void(const std::string& text)> onMessage;

  std::string SourceText() override { return sourceText; }
  std::string DestText() override { return destText; }
  FileList& List() override { return list; }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  void SetCurrentBar(int value) override { events.push_back("current " + std::to_string(value)); }
  void SetTotalBar(int value) override { events.push_back("total " + std::to_string(value)); }
  void EnableBrowse(bool enable) override { events.push_back(enable ? "browse on" : "browse off"); }
  void SetConvertCaption(const std::string& caption) override {
    events.push_back("caption " + caption);
  }
  void SetConvertTip(const std::string& tip) override { events.push_back("tip " + tip); }
  void Pump() override;

  // The message boxes alone, as "Title: text".
  std::vector<std::string> Boxes() const;
};
