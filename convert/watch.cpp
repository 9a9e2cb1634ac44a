// The watch looks through the file system seam, at whatever interval its caller chooses, so that
// it behaves alike on every system and needs nothing a system tells of changes.
#include "convert/watch.h"

#include <set>
#include <utility>

#include "convert/sound_rules.h"

Watch::Watch(FileSystem& fs, std::string top, std::vector<std::string> skip, Pick pick,
             bool descend, std::uint64_t settle)
    : fs_(fs),
      top_(std::move(top)),
      skip_(std::move(skip)),
      pick_(pick),
      descend_(descend),
      settle_(settle) {}

std::vector<std::string> Watch::Ready(std::uint64_t now) {
  const Tree tree = WalkTree(top_, skip_, fs_, pick_, descend_);
  std::map<std::string, Seen> known, pending;
  std::vector<std::string> ready;
  for (std::size_t i = 0; i < tree.files.size(); ++i) {
    const std::string& name = tree.files[i];
    const Seen seen{tree.found[i].size, tree.found[i].changed, now};
    const auto same = [&seen](const Seen& other) {
      return other.size == seen.size && other.changed == seen.changed;
    };
    const auto was = known_.find(name);
    const auto settling = pending_.find(name);
    if (!looked_ || (was != known_.end() && same(was->second))) {
      known[name] = seen;
    } else if (settling == pending_.end() || !same(settling->second)) {
      pending[name] = seen;  // a new change: its settling starts now
      if (was != known_.end()) known[name] = was->second;
    } else if (now - settling->second.since >= settle_) {
      ready.push_back(name);
      known[name] = seen;
    } else {
      pending[name] = settling->second;
      if (was != known_.end()) known[name] = was->second;
    }
  }
  known_ = std::move(known);
  pending_ = std::move(pending);
  looked_ = true;
  return ready;
}

void Watch::LearnOutputs(std::uint64_t now, const std::vector<std::string>& outputs) {
  if (outputs.empty()) return;
  // Where names ignore letter case, an output may be listed under another case than written.
  const auto key = [this](const std::string& name) {
    return fs_.NamesIgnoreCase() ? ToLowerAscii(name) : name;
  };
  std::set<std::string> wrote;
  for (const std::string& output : outputs) wrote.insert(key(output));
  const Tree tree = WalkTree(top_, skip_, fs_, pick_, descend_);
  for (std::size_t i = 0; i < tree.files.size(); ++i) {
    if (wrote.count(key(tree.files[i])) == 0) continue;
    known_[tree.files[i]] = Seen{tree.found[i].size, tree.found[i].changed, now};
    pending_.erase(tree.files[i]);
  }
}
