// The ordered list of bare file names that a scan fills and a batch converts.
#pragma once

#include <string>
#include <vector>

class FileList {
 public:
  virtual ~FileList() = default;

  // Number of entries; 0 or less means the list is empty.
  virtual int Count() const = 0;
  // Text of entry `index` at its full length.
  virtual std::string Item(int index) const = 0;
  // Makes entry `index` the single selection.
  virtual void Select(int index) = 0;
  // Removes every entry.
  virtual void Clear() = 0;
  // Appends `name` at the end; the list is never sorted.
  virtual void Add(const std::string& name) = 0;
};

// A list held in memory, for callers without a window; selecting does nothing.
class NameList : public FileList {
 public:
  int Count() const override { return static_cast<int>(names.size()); }
  std::string Item(int index) const override { return names[static_cast<std::size_t>(index)]; }
  void Select(int /*index*/) override {}
  void Clear() override { names.clear(); }
  void Add(const std::string& name) override { names.push_back(name); }

  std::vector<std::string> names;
};
