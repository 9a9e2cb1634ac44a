// Which files of a tree appeared or changed since they were last looked at, each taken once its
// size and time of change have stayed the same for a while: an editor may still be saving it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "convert/file_system.h"
#include "convert/tree.h"

class Watch {
 public:
  // Watches the files `pick` takes in `top` (with `descend`, in the whole tree, each of `skip`
  // left out), a change settling for `settle` milliseconds.
  Watch(FileSystem& fs, std::string top, std::vector<std::string> skip, Pick pick, bool descend,
        std::uint64_t settle);

  // The paths below `top` of the files that appeared or changed and have since stayed as they
  // are for the settling time, the tree looked at as it is at `now` (in milliseconds); the
  // first look only learns what is there.
  std::vector<std::string> Ready(std::uint64_t now);
  // Takes `outputs` (paths below the top), which a run of its own wrote into the tree, as they
  // are now: they are no edits. Every other file that appeared or changed stays a change.
  void LearnOutputs(std::uint64_t now, const std::vector<std::string>& outputs);
  // True while a change is settling, so that a look soon finds it soon.
  bool Settling() const { return !pending_.empty(); }

 private:
  struct Seen {
    std::uint64_t size, changed, since;
  };

  FileSystem& fs_;
  std::string top_;
  std::vector<std::string> skip_;
  Pick pick_;
  bool descend_;
  std::uint64_t settle_;
  bool looked_ = false;
  std::map<std::string, Seen> known_, pending_;  // by path below the top
};
