// Running a subcommand over many inputs on several threads, and reporting
// what happened in input order. Outcomes are printed as whole lines under
// one lock, each only after its output is in place; a progress line (on a
// terminal only) is cleared before any other line and drawn again after.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "files.h"

namespace quill::cli {

// What one input came to.
struct Outcome {
  bool failed = false;
  std::vector<std::string> errors;    // to standard error always
  std::vector<std::string> warnings;  // to standard error always (damage)
  std::vector<std::string> notes;     // to standard error with -v ("X -> Y")
  std::string report;                 // to standard output: a line, or a JSON object
};

class Reporter {
 public:
  // `progress`: the progress line, drawn on a terminal only; `verbose`: the
  // notes printed; `json`: reports are the objects of one JSON array.
  Reporter(std::size_t total, bool progress, bool verbose, bool json);
  // Prints the outcome of input `index` once those before it are printed.
  // `counted`: Finished() already counted it in the progress.
  void Deliver(std::size_t index, Outcome outcome, bool counted = false);
  // Counts an input whose output is written but not yet in place.
  void Finished();
  // Closes the JSON array, clears the progress line and prints the summary:
  // "N of M inputs failed", or with `damaged` frames that did not fail
  // "N of M frames damaged", or both in one line; the exit status (1 when
  // any input failed or was damaged).
  int Finish(std::size_t damaged = 0);
  int failed() const { return failed_; }

 private:
  void PrintLocked(const Outcome& outcome);
  void ClearProgressLocked();
  void DrawProgressLocked();

  std::mutex mutex_;
  std::size_t total_, next_ = 0, done_ = 0;
  bool verbose_, json_, progress_, stdout_terminal_, drawn_ = false, first_object_ = true;
  int failed_ = 0;
  std::map<std::size_t, Outcome> waiting_;
  std::chrono::steady_clock::time_point start_, last_draw_, last_flush_;
};

// Set by SIGINT, SIGTERM or SIGHUP, or to SIGPIPE when standard output's
// reader has gone: no new input is started, outputs not yet in place are
// removed.
extern std::atomic<int> g_interrupted;
void CatchInterruptions();
// Interrupts the run as `signal` would have, unless it is already.
void InterruptBy(int signal);
// Ends the process as the interrupting signal would have, after the cleanup.
[[noreturn]] void DieOfInterruption();

// Calls `work(index, batch)` for every index below `count` on `jobs`
// threads (the calling thread alone for one), each with its own batch of
// outputs, committed at the end. Stops early on interruption.
void RunBatch(std::size_t count, int jobs, SyncMode sync, bool no_clobber,
              const std::function<void(std::size_t, OutputBatch&)>& work);

// The default for -j: the processors online.
int OnlineProcessors();
// The most jobs that help: beyond a few per processor they only cost memory.
constexpr int kJobsPerProcessor = 4;

}  // namespace quill::cli
