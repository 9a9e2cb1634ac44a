// The ordered list of bare file names that a scan fills and a batch converts.
#pragma once

#include <string>

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
