// A file list over a vector and a batch UI that records every call as one line of text.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "convert/batch_ui.h"

struct VectorFileList final : FileList {
  std::vector<std::string> items;
  int selected = -1;

  int Count() const override { return static_cast<int>(items.size()); }
  std::string Item(int index) const override { return items.at(static_cast<std::size_t>(index)); }
  void Select(int index) override { selected = index; }
  void Clear() override { items.clear(); }
  void Add(const std::string& name) override { items.push_back(name); }
};

// Lines read like "box Error: Please select files first", "total 25", "caption Cancel".
struct RecordingBatchUi final : BatchUi {
  std::string sourceText = "D:\\snd", destText = "E:\\out";
  VectorFileList list;
  std::vector<std::string> events, boxes;  // boxes: "Title: text" alone
  // Run inside Pump() and ShowMessage(); they may clear Converting, as a confirmed abort does.
  std::function<void()> onPump = [] {}, onBox = [] {};

  std::string SourceText() override { return sourceText; }
  std::string DestText() override { return destText; }
  FileList& List() override { return list; }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    const bool iconFits = (title == "Error") == (icon == MessageIcon::Error);
    events.push_back("box " +
                     boxes.emplace_back(title + (iconFits ? ": " : " (wrong icon): ") + text));
    onBox();
  }
  void SetCurrentBar(int value) override { events.push_back("current " + std::to_string(value)); }
  void SetTotalBar(int value) override { events.push_back("total " + std::to_string(value)); }
  void EnableBrowse(bool on) override { events.push_back(on ? "browse on" : "browse off"); }
  void SetConvertCaption(const std::string& text) override { events.push_back("caption " + text); }
  void SetConvertTip(const std::string& tip) override { events.push_back("tip " + tip); }
  void Pump() override {
    events.push_back("pump");
    onPump();
  }
};
