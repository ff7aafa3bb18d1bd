#include "files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "batch.h"

namespace quill::cli {
namespace {

namespace fs = std::filesystem;

mode_t g_new_mode = 0644;

// Hidden, beside the output, and short: a name derived from the output's
// would pass NAME_MAX for outputs of 249 bytes or more. The process number
// tells a later run whose it was.
constexpr const char* kTemporaryPrefix = ".quill-";

// Up to 64 outputs or 32 MiB wait for one durability round.
constexpr std::size_t kBatchFiles = 64, kBatchBytes = std::size_t{32} << 20;

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool HasExtension(const fs::path& p, const std::vector<std::string>& extensions) {
  const std::string ext = Lower(p.extension().string());
  return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

// Walks `folder` depth first, each folder's entries in name order.
void Walk(const fs::path& folder, const Input& top, const std::vector<std::string>& extensions,
          std::vector<Input>& found, std::vector<std::string>& warnings) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  std::vector<fs::directory_entry> entries;
  for (; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  if (ec) {
    found.push_back({folder.string(), top.root, top.under, "cannot be walked: " + ec.message()});
    return;
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& e : entries) {
    if (e.path().filename().string().starts_with(".")) continue;
    std::error_code type_ec;
    if (e.is_directory(type_ec) && !e.is_symlink(type_ec)) {
      Walk(e.path(), top, extensions, found, warnings);
    } else if (!HasExtension(e.path(), extensions)) {
      continue;
    } else if (e.is_regular_file(type_ec)) {
      found.push_back({e.path().string(), top.root, top.under, ""});
    } else if (e.is_symlink(type_ec) && !fs::exists(e.path(), type_ec)) {
      warnings.push_back("quill: " + e.path().string() + ": warning: a dangling link; skipped");
    }
  }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR && g_interrupted.load() == 0) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const fs::path p(path);
  return p.has_parent_path() ? p.parent_path().string() : ".";
}

// Renames without replacing an existing file; link and unlink where the
// file system has no RENAME_NOREPLACE.
int RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from, to) != 0) return -1;
  ::unlink(from);
  return 0;
}

}  // namespace

std::string DisplayName(const std::string& path) {
  return path == kStdio ? "standard input" : path;
}

std::string OutputName(const std::string& path) {
  return path == kStdio ? "standard output" : path;
}

bool ReadInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
               std::uint64_t& size, bool& cut_off, std::string& error, const HeadCheck& head) {
  const bool stdio = path == kStdio;
  const int fd = stdio ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText("cannot be read");
    return false;
  }
  struct FdCloser {
    int fd;
    bool own;
    ~FdCloser() {
      if (own) ::close(fd);
    }
  } closer{fd, !stdio};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = ErrnoText("cannot be read");
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "is a folder";
    return false;
  }
  // Files of pseudo file systems (/proc) say they are empty: read them as
  // streams.
  const bool regular = S_ISREG(st.st_mode) && st.st_size > 0;
  cut_off = false;
  if (regular && static_cast<std::uint64_t>(st.st_size) > limit) {
    size = static_cast<std::uint64_t>(st.st_size);
    bytes.clear();
    return true;
  }
  const std::size_t want = regular ? static_cast<std::size_t>(st.st_size) : limit + 1;
  bytes.resize(std::min<std::size_t>(want, regular ? want : 1 << 16));
  size = 0;
  while (size < want) {
    if (size == bytes.size()) bytes.resize(std::min(want, 2 * bytes.size()));
    // Ctrl-C must stop a slow or endless stream at once.
    if (g_interrupted.load() != 0) {
      error = "interrupted";
      return false;
    }
    const ssize_t n = ::read(fd, bytes.data() + size, bytes.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = ErrnoText("cannot be read");
      return false;
    }
    if (n == 0) break;
    const bool had_head = size >= head.bytes;
    size += static_cast<std::uint64_t>(n);
    if (head.check != nullptr && !had_head && size >= head.bytes &&
        !head.check(bytes.data(), error)) {
      return false;
    }
  }
  cut_off = !regular && size > limit;
  bytes.resize(size);
  return true;
}

std::string SizeText(std::uint64_t size, bool cut_off, std::size_t limit) {
  return cut_off ? "is more than " + std::to_string(limit) + " bytes"
                 : "is " + std::to_string(size) + " bytes";
}

namespace {

bool IsFolder(const std::string& arg) {
  std::error_code ec;
  return arg != kStdio && fs::is_directory(arg, ec);
}

// The name a folder is known by: "photos" for "photos", "photos/" or
// "/home/me/photos"; the working folder's own for ".".
std::string FolderName(const std::string& arg) {
  std::error_code ec;
  fs::path p = fs::absolute(arg, ec).lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  return p.filename().string();
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& w : words) text += (text.empty() ? "" : ", ") + w;
  return text;
}

}  // namespace

std::vector<Input> ExpandInputs(const std::vector<std::string>& args, bool recursive,
                                const std::vector<std::string>& extensions,
                                std::vector<std::string>& warnings) {
  // One stat an argument, before any worker starts: with thousands of
  // files named, these are the run's only serial system calls.
  std::vector<bool> folder(args.size());
  std::size_t folders = 0;
  for (std::size_t a = 0; a < args.size(); ++a) folders += folder[a] = IsFolder(args[a]);
  std::vector<Input> inputs;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    if (!folder[a]) {
      inputs.push_back({arg, "", "", ""});
    } else if (!recursive) {
      inputs.push_back({arg, "", "", "is a folder (give -r to walk it)"});
    } else {
      const bool contents_only = folders == 1 && arg.ends_with('/');
      const Input top{arg, arg, contents_only ? "" : FolderName(arg), ""};
      const std::size_t before = inputs.size();
      Walk(arg, top, extensions, inputs, warnings);
      if (inputs.size() == before)
        warnings.push_back("quill: " + arg + ": warning: no input found in it (files ending in " +
                           Joined(extensions) + ")");
    }
  }
  return inputs;
}

std::string OutputPath(const Input& input, const std::string& dir, const std::string& ext) {
  const fs::path path(input.path);
  const std::string name = path.stem().string() + ext;
  if (dir.empty()) return (path.parent_path() / name).string();
  if (input.root.empty()) return (fs::path(dir) / name).string();
  const fs::path below = path.parent_path().lexically_relative(input.root);
  return (fs::path(dir) / input.under / below / name).lexically_normal().string();
}

bool IsStreamInput(const std::string& path) {
  // /dev/fd/3 and /proc/self/fd/0 may name regular files, in folders that
  // take no outputs.
  if (path.starts_with("/dev/") || path.starts_with("/proc/")) return true;
  struct stat st {};
  return path != kStdio && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
         !S_ISDIR(st.st_mode);
}

std::vector<std::string> RemoveStaleTemporaries(const std::string& folder) {
  std::vector<std::string> removed;
  std::error_code ec;
  const auto hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    // Our temporaries are named .quill-PID-XXXXXX.
    const std::string name = it->path().filename().string();
    long pid = 0;
    int length = 0;
    if (!name.starts_with(kTemporaryPrefix) ||
        std::sscanf(name.c_str() + std::strlen(kTemporaryPrefix), "%ld-%*6c%n", &pid, &length) !=
            1 ||
        std::strlen(kTemporaryPrefix) + static_cast<std::size_t>(length) != name.size() || pid <= 0)
      continue;
    std::error_code file_ec;
    if (!it->is_regular_file(file_ec) || it->is_symlink(file_ec) ||
        fs::last_write_time(it->path(), file_ec) > hour_ago || file_ec)
      continue;
    // A process of that number may be the one still writing it.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    if (fs::remove(it->path(), file_ec))
      removed.push_back("quill: " + it->path().string() + ": removed, a temporary that process " +
                        std::to_string(pid) + " left over an hour ago");
  }
  return removed;
}

bool MakeFolder(const std::string& dir, std::string& error) {
  std::error_code ec;
  if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
    error = "is not a folder";
    return false;
  }
  fs::create_directories(dir, ec);
  if (ec) {
    error = "cannot be created: " + ec.message();
    return false;
  }
  return true;
}

bool IdOf(const std::string& path, FileId& id) {
  struct stat st {};
  if (path == kStdio || ::stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

void CaptureUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  g_new_mode = 0666 & ~mask;
}

void OutputBatch::Stage(const std::string& path, const std::uint8_t* data, std::size_t size,
                        Done done) {
  const std::string folder = FolderOf(path);
  std::string temp =
      (fs::path(folder) / (kTemporaryPrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    done(Status::kFailed, ErrnoText("cannot write into " + folder));
    return;
  }
  // An existing output keeps its mode; a new one gets 0666 less the umask.
  struct stat st {};
  const mode_t mode =
      ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & 07777 : g_new_mode;
  // With --sync each the worker syncs its own file; with batch the
  // committer syncs the file system once for many.
  struct stat temp_st {};
  std::string error;
  if (::fchmod(fd, mode) != 0 || !WriteAll(fd, data, size) || ::fstat(fd, &temp_st) != 0) {
    error = ErrnoText("cannot be written");
  } else if (sync_ == SyncMode::kEach && ::fdatasync(fd) != 0) {
    error = ErrnoText("cannot be made durable");
  }
  if (::close(fd) != 0 && error.empty()) error = ErrnoText("cannot be written");
  if (!error.empty()) {
    ::unlink(temp.c_str());
    done(Status::kFailed, error);
    return;
  }
  bool full = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (staged_.empty()) oldest_ = std::chrono::steady_clock::now();
    staged_.push_back({std::move(temp), path, temp_st.st_dev, std::move(done)});
    staged_bytes_ += size;
    full = staged_.size() >= kBatchFiles || staged_bytes_ >= kBatchBytes;
  }
  if (full) Commit();
}

std::vector<StagedOutput> OutputBatch::Take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<StagedOutput> taken = std::move(staged_);
  staged_.clear();
  staged_bytes_ = 0;
  return taken;
}

std::vector<StagedOutput> OutputBatch::TakeOlderThan(std::chrono::steady_clock::duration age) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (staged_.empty() || std::chrono::steady_clock::now() - oldest_ < age) return {};
  }
  return Take();
}

void OutputBatch::Commit() {
  std::vector<StagedOutput> taken = Take();
  if (taken.empty()) return;
  if (committer_ != nullptr) {
    committer_->Submit(std::move(taken));
  } else {
    PutInPlace(taken, sync_, no_clobber_);
  }
}

void PutInPlace(std::vector<StagedOutput>& outputs, SyncMode sync, bool no_clobber) {
  using Status = StagedOutput::Status;
  std::vector<std::string> errors(outputs.size());
  // 1. The bytes reach the disk: one syncfs per file system (--sync each
  // synced each file as it was written).
  if (sync == SyncMode::kBatch) {
    std::set<dev_t> synced;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (!synced.insert(outputs[i].device).second) continue;
      const int fd = ::open(FolderOf(outputs[i].temp).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0 || ::syncfs(fd) != 0) {
        const std::string failure = ErrnoText("cannot be made durable");
        for (std::size_t j = 0; j < outputs.size(); ++j)
          if (outputs[j].device == outputs[i].device) errors[j] = failure;
      }
      if (fd >= 0) ::close(fd);
    }
  }
  // 2. Only then are they renamed into place; 3. their folders synced.
  std::vector<Status> status(outputs.size(), Status::kWritten);
  std::set<std::string> folders;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    StagedOutput& s = outputs[i];
    if (errors[i].empty()) {
      const int renamed = no_clobber ? RenameNoReplace(s.temp.c_str(), s.path.c_str())
                                     : ::rename(s.temp.c_str(), s.path.c_str());
      if (renamed == 0) {
        folders.insert(FolderOf(s.path));
        continue;
      }
      if (no_clobber && errno == EEXIST) {
        status[i] = Status::kKept;
      } else {
        errors[i] = ErrnoText("cannot be put in place");
      }
    }
    if (status[i] != Status::kKept) status[i] = Status::kFailed;
    ::unlink(s.temp.c_str());
  }
  std::set<std::string> unsynced;
  if (sync != SyncMode::kNone) {
    for (const auto& folder : folders) {
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0 || ::fsync(fd) != 0) unsynced.insert(folder);
      if (fd >= 0) ::close(fd);
    }
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (status[i] == Status::kWritten && unsynced.count(FolderOf(outputs[i].path)) > 0) {
      status[i] = Status::kFailed;
      errors[i] = "is in place, but its folder could not be synced";
    }
    outputs[i].done(status[i], errors[i]);
  }
  outputs.clear();
}

void DiscardStaged(std::vector<StagedOutput>& outputs) {
  for (auto& s : outputs) ::unlink(s.temp.c_str());
  outputs.clear();
}

struct Committer::State {
  State(SyncMode s, bool n) : sync(s), no_clobber(n) {}
  SyncMode sync;
  bool no_clobber;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<StagedOutput>> waiting;
  std::vector<OutputBatch*> batches;
  bool closing = false;
  std::thread thread;
};

Committer::Committer(SyncMode sync, bool no_clobber) : state_(new State(sync, no_clobber)) {
  state_->thread = std::thread([s = state_] {
    std::unique_lock<std::mutex> lock(s->mutex);
    for (;;) {
      s->changed.wait_for(lock, std::chrono::milliseconds(200),
                          [s] { return s->closing || !s->waiting.empty(); });
      if (s->waiting.empty() && !s->closing) {
        for (OutputBatch* b : s->batches) {
          std::vector<StagedOutput> old = b->TakeOlderThan(std::chrono::seconds(1));
          if (!old.empty()) s->waiting.push_back(std::move(old));
        }
        continue;
      }
      if (s->waiting.empty()) return;
      std::vector<StagedOutput> batch = std::move(s->waiting.front());
      s->waiting.pop_front();
      s->changed.notify_all();
      lock.unlock();
      if (g_interrupted.load() == 0) {
        PutInPlace(batch, s->sync, s->no_clobber);
      } else {
        DiscardStaged(batch);
      }
      lock.lock();
    }
  });
}

Committer::~Committer() {
  {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->closing = true;
  }
  state_->changed.notify_all();
  state_->thread.join();
  delete state_;
}

void Committer::Register(OutputBatch* batch) {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  state_->batches.push_back(batch);
}

void Committer::Unregister(OutputBatch* batch) {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  std::erase(state_->batches, batch);
}

void Committer::Submit(std::vector<StagedOutput> batch) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->changed.wait(lock, [this] { return state_->waiting.size() < 2; });
  state_->waiting.push_back(std::move(batch));
  state_->changed.notify_all();
}

bool IsStreamOutput(const std::string& path) {
  struct stat st {};
  return path == kStdio ||
         (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode));
}

std::string StdoutAsDash(const std::string& path) {
  // Through its name it may be a regular file, which would get a temporary
  // in /dev and a rename over the name.
  return path == "/dev/stdout" || path == "/dev/fd/1" ? std::string(kStdio) : path;
}

bool WriteStream(const std::string& path, const std::uint8_t* data, std::size_t size,
                 std::string& error) {
  const bool stdio = path == kStdio;
  const int fd = stdio ? 1 : ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText("cannot be written");
    return false;
  }
  bool ok = false;
  if (::isatty(fd)) {
    error = "is a terminal; refusing to write binary data to it";
  } else if (!(ok = WriteAll(fd, data, size))) {
    if (errno == EPIPE) InterruptBy(SIGPIPE);
    error = ErrnoText("cannot be written");
  }
  if (!stdio && ::close(fd) != 0 && ok) {
    ok = false;
    error = ErrnoText("cannot be written");
  }
  return ok;
}

}  // namespace quill::cli
