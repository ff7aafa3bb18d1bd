// Inputs and outputs of the tool. Inputs are files, "-" (standard input) or
// pipes; folders are walked on request. Outputs are written so that a crash
// never leaves a half-written file under an output's name: each goes to a
// hidden temporary file in its folder, written through its descriptor with
// the mode the output will have; a batch of them is made durable in one
// round and only then renamed into place, and the folders are synced last.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quill::cli {

constexpr const char* kStdio = "-";

// How outputs reach the disk before they are renamed into place.
enum class SyncMode {
  kBatch,  // one syncfs per batch of temporaries, then the renames (default)
  kEach,   // fdatasync of each temporary before its rename
  kNone,   // no syncing: fastest, not safe against a crash
};

// The name a path is reported by ("standard input" for "-").
std::string DisplayName(const std::string& path);

// Reads a whole input ("-" is standard input). `size` is a regular file's
// full size (nothing is read past `limit`); a pipe or device is read to its
// end or to `limit` + 1 bytes, where it is cut off (`cut_off`): an endless
// stream is never read forever. False with `error` (errno text included)
// when it cannot be read, is a folder, or the run was interrupted.
// A look at the first `bytes` bytes of an input, once they are read: false
// (with `error`) stops the reading there.
struct HeadCheck {
  std::size_t bytes = 0;
  bool (*check)(const std::uint8_t* head, std::string& error) = nullptr;
};
bool ReadInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
               std::uint64_t& size, bool& cut_off, std::string& error, const HeadCheck& head = {});
// "is N bytes", or "is more than LIMIT bytes" for a stream cut off.
std::string SizeText(std::uint64_t size, bool cut_off, std::size_t limit);

// Expands folders among `args`: walked (sorted, hidden names skipped) for
// files whose extension is one of `extensions` when `recursive`. `root` of
// each input is the folder it was found under ("" for inputs named
// directly); `under` is what its output keeps of that folder below -d, as
// `cp -r` does: the folder's own name, unless it is the only folder and is
// named with a trailing slash (its contents then go straight into DIR).
// A folder without `recursive`, or one that cannot be walked, is an input
// with its `error`, in its place, so that it is reported there. A folder
// that holds no input, and a dangling link named like one, add a line to
// `warnings`.
struct Input {
  std::string path;
  std::string root;
  std::string under;
  std::string error;
};
std::vector<Input> ExpandInputs(const std::vector<std::string>& args, bool recursive,
                                const std::vector<std::string>& extensions,
                                std::vector<std::string>& warnings);

// The output for an input: DIR/<under>/<path below its root>/<stem><ext>
// with a folder, else next to the input.
std::string OutputPath(const Input& input, const std::string& dir, const std::string& ext);

// Whether an input is a device, a pipe or a socket, or any file under /dev
// or /proc: it has no folder to write an output beside, which therefore
// goes to standard output.
bool IsStreamInput(const std::string& path);

// Removes from `folder` the temporaries that runs of this tool left there
// (killed before they could remove them): only those older than an hour
// whose process is no longer running. Returns a line for each removed.
std::vector<std::string> RemoveStaleTemporaries(const std::string& folder);

// Makes a folder and its parents; false with `error` when it cannot, or a
// file of that name is in the way.
bool MakeFolder(const std::string& dir, std::string& error);

// Identity of an existing file (device and inode), for telling whether an
// output would overwrite an input; false when it does not exist.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator<(const FileId& a, const FileId& b) {
    return a.device != b.device ? a.device < b.device : a.inode < b.inode;
  }
};
bool IdOf(const std::string& path, FileId& id);

// The mode new outputs get: 0666 less the umask (read once, at start-up).
void CaptureUmask();

// An output written to its temporary file, waiting to be put in place.
struct StagedOutput {
  enum class Status { kWritten, kKept, kFailed };  // kKept: -n found the output there
  using Done = std::function<void(Status status, const std::string& error)>;
  std::string temp, path;
  dev_t device;
  Done done;
};

// Makes every output durable, renames them into place, syncs their folders
// and calls their `done`, in order.
void PutInPlace(std::vector<StagedOutput>& outputs, SyncMode sync, bool no_clobber);
// Removes the temporaries without calling `done`.
void DiscardStaged(std::vector<StagedOutput>& outputs);

class OutputBatch;

// Puts batches in place on a thread of its own, so that the workers go on
// while the disk syncs. At most two batches wait; Submit blocks beyond that.
// It also takes the outputs of a registered batch staged more than a second
// ago, so that finished work reaches its place even while its worker is
// slow or waits on a stream, and an interruption keeps it.
class Committer {
 public:
  Committer(SyncMode sync, bool no_clobber);
  ~Committer();  // puts what waits in place (discards it on interruption)
  Committer(const Committer&) = delete;
  Committer& operator=(const Committer&) = delete;
  void Submit(std::vector<StagedOutput> batch);
  void Register(OutputBatch* batch);
  void Unregister(OutputBatch* batch);

 private:
  struct State;
  State* state_;
};

// Outputs staged by one worker and put in place together: by a Committer
// when one is given, else on the spot.
class OutputBatch {
 public:
  using Status = StagedOutput::Status;
  using Done = StagedOutput::Done;
  OutputBatch(SyncMode sync, bool no_clobber, Committer* committer = nullptr)
      : sync_(sync), no_clobber_(no_clobber), committer_(committer) {
    if (committer_ != nullptr) committer_->Register(this);
  }
  ~OutputBatch() {
    if (committer_ != nullptr) committer_->Unregister(this);
    DiscardStaged(staged_);
  }
  OutputBatch(const OutputBatch&) = delete;
  OutputBatch& operator=(const OutputBatch&) = delete;

  // Writes `bytes` to a temporary file beside `path`; `done` is called once
  // the output is in place (or has failed: then with the reason). An error
  // writing the temporary calls `done` at once. Commits by itself when the
  // batch is full.
  void Stage(const std::string& path, const std::uint8_t* data, std::size_t size, Done done);
  void Commit();
  // The staged outputs when the oldest was staged at least `age` ago, else
  // none; for the committer's thread.
  std::vector<StagedOutput> TakeOlderThan(std::chrono::steady_clock::duration age);

 private:
  std::vector<StagedOutput> Take();

  SyncMode sync_;
  bool no_clobber_;
  Committer* committer_;
  std::mutex mutex_;  // the committer's thread takes old outputs too
  std::vector<StagedOutput> staged_;
  std::size_t staged_bytes_ = 0;
  std::chrono::steady_clock::time_point oldest_;
};

// Outputs written directly, without a temporary and a rename: "-", and an
// existing file that is neither a regular file nor a folder (/dev/null, a
// pipe). "/dev/stdout" is taken as "-".
bool IsStreamOutput(const std::string& path);
std::string StdoutAsDash(const std::string& path);
// The name an output is reported by ("standard output" for "-").
std::string OutputName(const std::string& path);
// Writes bytes to a stream output; false with `error` on a short write, or
// when it is a terminal. A gone reader (EPIPE) interrupts the run.
bool WriteStream(const std::string& path, const std::uint8_t* data, std::size_t size,
                 std::string& error);

}  // namespace quill::cli
