#include "batch.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

namespace quill::cli {

std::atomic<int> g_interrupted{0};

namespace {

void OnSignal(int signal) {
  g_interrupted.store(signal);
}

// One text line, its control characters (which a file name may hold: a
// newline would split the line, an escape sequence reach the terminal)
// written as \xHH.
void WriteLine(std::FILE* stream, const std::string& line) {
  std::string whole;
  whole.reserve(line.size() + 1);
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      whole += c;
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    whole += escaped;
  }
  whole += '\n';
  std::fwrite(whole.data(), 1, whole.size(), stream);
}

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

Reporter::Reporter(std::size_t total, bool progress, bool verbose, bool json)
    : total_(total),
      verbose_(verbose),
      json_(json),
      progress_(progress && total > 1 && ::isatty(2)),
      stdout_terminal_(::isatty(1) != 0),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_),
      last_flush_(start_) {
  if (json_) std::fputs("[\n", stdout);
}

void Reporter::ClearProgressLocked() {
  if (drawn_) {
    std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }
}

void Reporter::DrawProgressLocked() {
  const auto now = std::chrono::steady_clock::now();
  if (!progress_ || done_ == total_ || now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
  char line[128];
  std::snprintf(line, sizeof line, "\r\033[K[%zu/%zu] %.0f/s, ETA %s", done_, total_, rate,
                rate > 0 ? Clock(static_cast<double>(total_ - done_) / rate).c_str() : "?");
  std::fputs(line, stderr);
  drawn_ = true;
}

void Reporter::PrintLocked(const Outcome& outcome) {
  // What fails once the run is interrupted fails because of it: not counted.
  // Once standard output's reader is gone the run ends silently, as tools
  // killed by SIGPIPE do.
  if ((outcome.failed && g_interrupted.load() != 0) || g_interrupted.load() == SIGPIPE) return;
  if (outcome.failed) ++failed_;
  const bool notes = verbose_ && !outcome.notes.empty();
  if (!outcome.errors.empty() || !outcome.warnings.empty() || notes || !outcome.report.empty())
    ClearProgressLocked();
  errno = 0;
  if (!outcome.report.empty()) {
    if (json_) {
      if (!first_object_) std::fputs(",\n", stdout);
      std::fputs(("  " + outcome.report).c_str(), stdout);
      first_object_ = false;
    } else {
      WriteLine(stdout, outcome.report);
    }
  }
  // Reports go out a line at a time to a terminal, before any line on
  // standard error, and at least every 100 ms; else in whole buffers, since
  // a write a frame, under the lock, held the other workers up.
  const bool to_stderr = !outcome.errors.empty() || !outcome.warnings.empty() || notes;
  const auto now = std::chrono::steady_clock::now();
  if (stdout_terminal_ || to_stderr || now - last_flush_ >= std::chrono::milliseconds(100)) {
    last_flush_ = now;
    if (std::fflush(stdout) != 0 && errno == EPIPE) return InterruptBy(SIGPIPE);
  } else if (std::ferror(stdout) && errno == EPIPE) {  // a full buffer written and refused
    return InterruptBy(SIGPIPE);
  }
  for (const auto& e : outcome.errors) WriteLine(stderr, "quill: " + e);
  for (const auto& w : outcome.warnings) WriteLine(stderr, w);
  if (notes)
    for (const auto& n : outcome.notes) WriteLine(stderr, n);
}

void Reporter::Finished() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  DrawProgressLocked();
}

void Reporter::Deliver(std::size_t index, Outcome outcome, bool counted) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!counted) ++done_;
  if (index != next_) {
    waiting_.emplace(index, std::move(outcome));
  } else {
    PrintLocked(outcome);
    ++next_;
    for (auto it = waiting_.begin(); it != waiting_.end() && it->first == next_;
         it = waiting_.erase(it), ++next_)
      PrintLocked(it->second);
  }
  DrawProgressLocked();
}

int Reporter::Finish(std::size_t damaged) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // Outcomes still waiting (an interrupted run) are printed as they are.
  for (auto& [index, outcome] : waiting_) PrintLocked(outcome);
  waiting_.clear();
  ClearProgressLocked();
  if (g_interrupted.load() == SIGPIPE) return 1;
  if (json_) std::fputs(first_object_ ? "]\n" : "\n]\n", stdout);
  std::fflush(stdout);
  const char* inputs = total_ == 1 ? "input" : "inputs";
  if (failed_ > 0 && damaged > 0) {
    std::fprintf(stderr, "quill: %d of %zu %s failed, %zu damaged\n", failed_, total_, inputs,
                 damaged);
  } else if (failed_ > 0) {
    std::fprintf(stderr, "quill: %d of %zu %s failed\n", failed_, total_, inputs);
  } else if (damaged > 0) {
    std::fprintf(stderr, "quill: %zu of %zu %s damaged\n", damaged, total_,
                 total_ == 1 ? "frame" : "frames");
  }
  return failed_ > 0 || damaged > 0 ? 1 : 0;
}

void CatchInterruptions() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // A signal the parent ignores (nohup, trap '' INT, a background job)
  // stays ignored.
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction inherited {};
    if (::sigaction(s, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN)
      ::sigaction(s, &action, nullptr);
  }
  // A closed reader shows as EPIPE on a write, handled as an interruption
  // so that the temporaries are removed first.
  ::signal(SIGPIPE, SIG_IGN);
}

void InterruptBy(int signal) {
  int none = 0;
  g_interrupted.compare_exchange_strong(none, signal);
}

void DieOfInterruption() {
  const int s = g_interrupted.load();
  std::fflush(stdout);
  ::signal(s, SIG_DFL);
  ::raise(s);
  std::_Exit(128 + s);
}

void RunBatch(std::size_t count, int jobs, SyncMode sync, bool no_clobber,
              const std::function<void(std::size_t, OutputBatch&)>& work) {
  std::atomic<std::size_t> next{0};
  // Outputs are put in place beside the work; the committer's destructor
  // waits for the last batches.
  Committer committer(sync, no_clobber);
  auto worker = [&] {
    OutputBatch batch(sync, no_clobber, &committer);
    for (std::size_t i; g_interrupted.load() == 0 && (i = next.fetch_add(1)) < count;)
      work(i, batch);
    if (g_interrupted.load() == 0) batch.Commit();
  };
  const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(jobs), count);
  if (threads <= 1) {
    worker();
    return;
  }
  std::vector<std::thread> pool;
  for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
  for (auto& t : pool) t.join();
}

int OnlineProcessors() {
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace quill::cli
