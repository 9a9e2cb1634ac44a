// Fuzzes the batch on the in-memory disk (any names and lead bytes, old outputs, one failing call):
// each file ends as it was or as a listed input's whole output, under the name read from the start.
#include "convert/batch.h"
#include "convert/sound_rules.h"
#include "fakes/fakes.h"
#include "fuzz/check.h"

// Reads the name one character of one or two bytes at a time from its start.
static std::string OutputName(const std::string& name, const LeadByteSet& leadBytes) {
  std::size_t dot = std::string::npos;
  for (std::size_t i = 0; i < name.size(); i += leadBytes[static_cast<unsigned char>(name[i])] + 1)
    if (name[i] == '.' || name[i] == '\\' || name[i] == ':')
      dot = name[i] == '.' ? i : std::string::npos;
  std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  for (char& c : ext) c = static_cast<char>(c | 0x20);  // 'm', 'e', 'd' come only from either case
  return name.substr(0, dot) + (ext == ".med" ? ".wav" : ".med");
}

// Input: lead bytes, a failing operation and call, then per file a flags byte, name and body.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  const auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
  const auto text = [&](unsigned most) {
    std::string bytes(next() % (most + 1), '\0');
    for (char& c : bytes) c = static_cast<char>(next());
    return bytes;
  };
  FakeFileSystem fs;
  RecordingBatchUi ui;
  for (unsigned b = 0x80 + next() % 0x81; b < 0x100; ++b) fs.leadBytes.set(b, (next() & 1) != 0);
  const std::string failOp = kFsOps[next() % 10];
  fs.failAt[failOp] = next() % 12;
  std::map<std::string, std::vector<Bytes>> outputs;  // each path's possible converted content
  for (unsigned files = next() % 7; files > 0; --files) {
    const std::uint8_t flags = next();
    const std::string name = text(10), source = "D:\\snd\\" + name;
    const std::string output = "E:\\out\\" + OutputName(name, fs.leadBytes);
    Bytes body = flags & 3 ? SoundFile(22, flags & 1 ? 122 : 17) : Bytes();
    for (char c : text(60)) body.push_back(static_cast<std::uint8_t>(c));
    if (std::count(ui.items.begin(), ui.items.end(), name) != 0) continue;
    ui.items.push_back(name);
    if ((flags & 0x30) != 0) fs.entries.insert({output, {flags}});
    if ((flags & 0xC0) == 0xC0) continue;  // listed, not there
    fs.entries[source] = body;
    SoundHeader header{};
    std::copy_n(body.begin(), std::min(body.size(), header.size()), header.begin());
    if (body.size() >= 22 && IsAcceptedHeader(header))
      outputs[output].push_back(WithTag(body, header[20] == 122 && header[21] == 0 ? 17 : 122));
  }
  const std::map<std::string, Bytes> before = fs.entries;
  Converting = false;
  const BatchSummary summary = ConvertBatch(ui, fs);

  Check(summary.started && !Converting && fs.open.empty(), "the batch ends idle, all closed");
  Check(ui.boxes.size() == summary.failed + 1u && ui.boxes.back() == "Information: Done",
        "one box per failed file, then Done");
  for (const auto& [path, bytes] : before) Check(fs.entries.count(path) != 0, "no file is lost");
  for (const auto& [path, bytes] : fs.entries) {
    const std::vector<Bytes>& made = outputs[path];
    const bool kept = before.count(path) != 0 && before.at(path) == bytes;
    const bool tempLeft = failOp == "Remove" && path.find("E:\\out\\~") == 0;
    Check(kept || tempLeft || std::find(made.begin(), made.end(), bytes) != made.end(),
          "each file is as it was or the whole output of a listed input");
  }
  return 0;
}
