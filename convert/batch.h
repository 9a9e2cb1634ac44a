// The batch job behind the Convert button, and the flag that says whether one is running.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "convert/batch_ui.h"
#include "convert/file_system.h"

// The message for a file whose header the conversion does not accept.
inline constexpr char kNotSupportedText[] = "Not supported MED file";

// True while a batch runs; clearing it asks the batch to stop before its next file.
extern bool Converting;

struct BatchSummary {
  bool started = false;  // false when a pre-check refused the batch
  int listed = 0;        // entries in the list when the batch started
  int converted = 0;     // outputs fully written and in place
  int failed = 0;        // files that got an error message or were not admitted
  int skipped = 0;       // files not reached because the batch was aborted
  std::uint64_t bytesWritten = 0;
};

// Creates a new file in `folder` (ending in '\\') under a temporary name of at most `room` bytes
// that no file has yet, trying serial numbers from `serial` up; its path goes into `path`.
NewFile CreateTempFile(FileSystem& fs, const std::string& folder, std::size_t room, int& serial,
                       std::string& path);

// What the listed files in `sourceFolder` hold, for the free-space check: each a search
// would find first. Each folder is listed once; only a name its listing lacks (changed since
// the scan, or in another case) is searched for alone. Under Wine every search opens the folder
// through the server, and one per file cost more than copying a folder of small files.
std::uint64_t ListedBytes(FileSystem& fs, const std::string& sourceFolder, const FileList& list);

// True when the volume of `destFolder` answered and has fewer free clusters than `totalBytes`
// take; a failed query (a UNC or relative folder) leaves a full disk to the per-file errors.
bool NotEnoughSpace(FileSystem& fs, const std::string& destFolder, std::uint64_t totalBytes);

// Writes a file's output into `file`, the empty temporary output: true with `bytes` its size, or
// false once it has said why it failed.
using WriteOutput = std::function<bool(FileSystem& fs, FileHandle file, std::uint64_t& bytes)>;

// How the batch takes one listed file.
struct FileStep {
  bool admitted = true;    // false: counted as failed, having said why; nothing is opened
  std::string outputName;  // below the destination folder
  // Writes the output anew instead of the copy with the tag toggled, so the header need not be
  // one that toggling converts; null: the copy.
  WriteOutput write;
};

// What a caller decides of each file, beside the window's rule of copying every one with its tag
// toggled under the rule's name.
class FileSteps {
 public:
  virtual ~FileSteps() = default;
  // How file `index` of the list is taken, asked as the batch reaches it, before it is opened.
  virtual FileStep StepFor(int index) = 0;
  // Told of each admitted file once it is done: its output in place, or not.
  virtual void Done(int index, bool converted) = 0;
};

// Converts every listed file from the source folder into the destination folder, reporting
// each failure through `ui` and going on; returns when finished, aborted or refused. Without
// `steps` every file is copied with its tag toggled, as the window converts.
BatchSummary ConvertBatch(BatchUi& ui, FileSystem& fs, FileSteps* steps = nullptr);
