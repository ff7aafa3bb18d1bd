// quill: the QUILL32 codec on the command line. Decodes frames to pictures,
// encodes pictures to frames, checks frames, and runs the picture
// operations. Data and reports go to standard output; errors, warnings,
// progress (on a terminal) and with -v a line per output to standard error.
// Exit status: 0 all inputs done, 1 some input failed, 2 usage error.
// Batches run on every processor (-j).
#include <signal.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "batch.h"
#include "commands.h"
#include "files.h"
#include "json.h"
#include "png_writer.h"
#include "reports.h"

namespace {

using namespace quill::cli;
namespace fs = std::filesystem;

// The project's version, given by the build (the library's header has none).
constexpr const char* kVersion = "quill " QUILL_TOOL_VERSION " (QUILL32 codec)";

// A usage error: the message, exit status 2.
struct UsageError {
  std::string text;
};

const std::map<std::string, SyncMode> kSyncModes = {
    {"batch", SyncMode::kBatch}, {"each", SyncMode::kEach}, {"none", SyncMode::kNone}};

// What the batch subcommands share.
struct BatchOptions {
  std::vector<std::string> args;
  std::string out, dir;
  int jobs = OnlineProcessors();
  bool recursive = false, no_clobber = false, json = false, quiet = false, verbose = false;
  std::string sync_name = "batch";
  SyncMode sync() const { return kSyncModes.at(sync_name); }
};

// An empty name would silently mean "no -o" or "no -d".
CLI::Validator NotEmpty(const std::string& what) {
  return CLI::Validator(
      [what](std::string& value) {
        return value.empty() ? "is empty; it must name " + what : std::string();
      },
      "");
}

void AddBatchOptions(CLI::App* cmd, BatchOptions& o, bool writes) {
  cmd->add_option("-j,--jobs", o.jobs,
                  "Inputs worked on at once (default: processors online; at most 4 a processor)")
      ->check(CLI::Range(1, 4096));
  cmd->add_flag("-r,--recursive", o.recursive, "Walk folders given as inputs");
  cmd->add_flag("--json", o.json, "Report on standard output as a JSON array");
  if (!writes) return;
  auto* out =
      cmd->add_option("-o,--output", o.out, "Output file for one input; - for standard output")
          ->check(NotEmpty("a file (or - for standard output)"));
  cmd->add_option("-d,--dir", o.dir,
                  "Folder for the outputs, named after the inputs; a folder walked with -r keeps "
                  "its own name below it unless it is the only one and ends in /")
      ->excludes(out)
      ->check(NotEmpty("a folder"));
  cmd->add_flag("-n,--no-clobber", o.no_clobber, "Leave existing outputs as they are");
  cmd->add_option("--sync", o.sync_name,
                  "How outputs reach the disk before they are renamed into place: batch (one "
                  "sync for many), each (one a file), none (fastest; not crash-safe)")
      ->check(CLI::IsMember({"batch", "each", "none"}));
}

// The inputs of a batch and where each one's output goes, checked before any
// work: two inputs may not share an output, outputs' folders are made.
struct Plan {
  std::vector<Input> inputs;
  std::vector<std::string> targets;  // "-" for standard output
  std::set<FileId> input_ids;
  std::map<std::string, std::string> bad_folders;  // folder -> why it cannot be made
  std::vector<std::string> warnings;               // about the inputs, printed first
};

Plan MakePlan(const BatchOptions& o, const std::vector<std::string>& extensions,
              const std::string& ext) {
  Plan plan;
  plan.inputs = ExpandInputs(o.args, o.recursive, extensions, plan.warnings);
  std::size_t stdio_inputs = 0;
  for (const auto& in : plan.inputs) stdio_inputs += in.path == kStdio;
  if (stdio_inputs > 1) throw UsageError{"standard input (-) can be read once"};
  if (stdio_inputs > 0 && !o.dir.empty())
    throw UsageError{"-d names outputs after their inputs; standard input needs -o"};
  if (!o.out.empty() && plan.inputs.size() > 1)
    throw UsageError{"-o takes one input; use -d for several"};
  std::map<std::string, std::size_t> claimed;
  std::size_t to_stdout = plan.inputs.size();  // the input written there, if any
  for (std::size_t i = 0; i < plan.inputs.size(); ++i) {
    const Input& in = plan.inputs[i];
    if (!in.error.empty()) {
      plan.targets.emplace_back();  // nothing is written for it
      continue;
    }
    // A device or a pipe has no folder to write beside: as "-" it goes to
    // standard output.
    const bool stream = in.path == kStdio || (o.dir.empty() && IsStreamInput(in.path));
    std::string target = !o.out.empty() ? o.out
                         : stream       ? std::string(kStdio)
                                        : OutputPath(in, o.dir, ext);
    if (target == kStdio && o.out.empty()) {
      if (to_stdout < i)
        throw UsageError{DisplayName(plan.inputs[to_stdout].path) + " and " + in.path +
                         " would both be written to standard output; give -d"};
      to_stdout = i;
    }
    if (target != kStdio) {
      const std::string key = fs::absolute(target).lexically_normal().string();
      const auto [it, fresh] = claimed.emplace(key, i);
      if (!fresh) {
        throw UsageError{plan.inputs[it->second].path + " and " + in.path +
                         " would both be written to " + target};
      }
    }
    plan.targets.push_back(std::move(target));
    FileId id;
    if (IdOf(in.path, id)) plan.input_ids.insert(id);
  }
  for (const auto& t : plan.targets) {
    if (t == kStdio && ::isatty(1))
      throw UsageError{"refusing to write binary data to a terminal; redirect standard output"};
    if (t == kStdio && o.json)
      throw UsageError{
          "--json and -o - would share standard output (an input that is "
          "standard input, a device or a pipe writes there without -o or -d)"};
  }
  return plan;
}

// Makes the output folders (-d, and the folders below it that -r mirrors).
// One that cannot be made fails only the inputs whose outputs go there.
// Then removes the stale temporaries of killed runs from every output folder.
void MakeOutputFolders(const BatchOptions& o, Plan& plan) {
  std::set<std::string> folders;
  if (!o.dir.empty()) folders.insert(o.dir);
  for (const auto& t : plan.targets)
    if (!t.empty() && !IsStreamOutput(t)) folders.insert(fs::path(t).parent_path().string());
  for (const auto& f : folders) {
    std::string error;
    if (!o.dir.empty() && !MakeFolder(f, error)) {
      plan.bad_folders.emplace(f, f + ": " + error);
      continue;
    }
    for (const auto& line : RemoveStaleTemporaries(f)) plan.warnings.push_back(line);
  }
}

void PrintWarnings(const Plan& plan) {
  for (const auto& w : plan.warnings) std::cerr << w << "\n";
}

// Refuses, before any work, an output that would replace one of the inputs.
// An input that would be its own output because it is of the wrong kind
// (`encode x.yuv`) is let through: its reading fails with what it is.
void RefuseOverwrites(const Plan& plan, bool pictures_in) {
  for (std::size_t i = 0; i < plan.targets.size(); ++i) {
    const std::string& target = plan.targets[i];
    FileId id, own;
    if (IsStreamOutput(target) || !IdOf(target, id) || plan.input_ids.count(id) == 0) continue;
    const bool itself = IdOf(plan.inputs[i].path, own) && !(own < id) && !(id < own);
    if (pictures_in && itself && !LooksLikePicture(plan.inputs[i].path)) continue;
    throw UsageError{target + ": is also an input; refusing to overwrite it"};
  }
}

// Puts `bytes` at `target` (or on standard output) and delivers the outcome
// once it is in place. `finish(outcome, written, error)` adds the note and
// report.
void Emit(std::size_t index, const std::string& target, std::vector<std::uint8_t> bytes,
          Outcome outcome, OutputBatch& batch, Reporter& reporter,
          std::function<void(Outcome&, bool, const std::string&)> finish) {
  if (IsStreamOutput(target)) {
    std::string error;
    const bool ok = WriteStream(target, bytes.data(), bytes.size(), error);
    if (!ok) {
      outcome.failed = true;
      outcome.errors.push_back(OutputName(target) + ": " + error);
    }
    finish(outcome, ok, error);
    reporter.Deliver(index, std::move(outcome));
    return;
  }
  auto shared = std::make_shared<Outcome>(std::move(outcome));
  reporter.Finished();
  batch.Stage(target, bytes.data(), bytes.size(),
              [index, target, shared, &reporter, finish](OutputBatch::Status status,
                                                         const std::string& error) {
                Outcome& o = *shared;
                if (status == OutputBatch::Status::kFailed) {
                  o.failed = true;
                  o.errors.push_back(target + ": " + error);
                } else if (status == OutputBatch::Status::kKept) {
                  o.notes.push_back("quill: " + target + ": exists; left as it is (--no-clobber)");
                }
                finish(o, status == OutputBatch::Status::kWritten, error);
                reporter.Deliver(index, std::move(o), true);
              });
}

// An input's failure before any output.
void DeliverFailure(Reporter& reporter, std::size_t index, const std::string& file,
                    const std::string& error, bool json, const std::string& target) {
  Outcome outcome;
  outcome.failed = true;
  outcome.errors.push_back(file + ": " + error);
  if (json) outcome.report = WriteJson(file, target, false, error, nullptr);
  reporter.Deliver(index, std::move(outcome));
}

bool KeptByNoClobber(bool no_clobber, const std::string& target) {
  std::error_code ec;
  return no_clobber && !IsStreamOutput(target) && fs::exists(fs::symlink_status(target, ec));
}

void DeliverKept(Reporter& reporter, std::size_t index, const std::string& file,
                 const std::string& target, bool json) {
  Outcome outcome;
  outcome.notes.push_back("quill: " + target + ": exists; left as it is (--no-clobber)");
  if (json) outcome.report = WriteJson(file, target, false, "", nullptr);
  reporter.Deliver(index, std::move(outcome));
}

// Reports an output whose folder could not be made, or one that -n keeps;
// true when it did.
bool Refused(const Plan& plan, const BatchOptions& o, Reporter& reporter, std::size_t index,
             const std::string& file, const std::string& target) {
  const auto bad = plan.bad_folders.find(fs::path(target).parent_path().string());
  if (bad != plan.bad_folders.end()) {
    DeliverFailure(reporter, index, file, "not written: " + bad->second, o.json, target);
    return true;
  }
  if (KeptByNoClobber(o.no_clobber, target)) {
    DeliverKept(reporter, index, file, target, o.json);
    return true;
  }
  return false;
}

int FinishBatch(Reporter& reporter, std::size_t damaged = 0) {
  const int status = reporter.Finish(damaged);
  if (g_interrupted.load() != 0) {
    if (g_interrupted.load() != SIGPIPE)
      std::cerr << "quill: interrupted; outputs not yet in place were removed\n";
    DieOfInterruption();
  }
  return status;
}

const std::map<std::string, ImageFormat> kFormats = {
    {"png", ImageFormat::kPng}, {"bmp", ImageFormat::kBmp}, {"ppm", ImageFormat::kPpm}};

std::string FormatName(ImageFormat format) {
  for (const auto& [name, f] : kFormats)
    if (f == format) return name;
  return "";
}

std::string Extension(ImageFormat format) {
  return "." + FormatName(format);
}

constexpr const char* kPictureOutputs = "the output must end in .png, .bmp or .ppm (or .pnm)";

int Decode(const BatchOptions& o, const std::string& format_name, bool format_given,
           const std::string& size, bool size_given, bool sharpen, const std::string& field2,
           bool strict, int png_level) {
  ImageFormat fmt = kFormats.at(format_name);
  const bool stream = !o.out.empty() && IsStreamOutput(o.out);
  if (!o.out.empty() && !stream && !FormatOfPath(o.out, fmt))
    throw UsageError{o.out + ": " + kPictureOutputs};
  if (!o.out.empty() && !stream && format_given && format_name != FormatName(fmt))
    throw UsageError{o.out + ": --format " + format_name +
                     " does not match the output's extension"};
  // A second field makes a 640x480 picture: it implies the size.
  if (!field2.empty() && size_given && size != "640x480")
    throw UsageError{"--field2 makes a 640x480 picture; it does not go with --size " + size};
  if (!field2.empty() && o.args.size() != 1)
    throw UsageError{"--field2 completes one frame; give one"};
  Plan plan = MakePlan(o, {".yuv"}, Extension(fmt));
  DecodeOptions options;
  options.large = size == "640x480" || !field2.empty();
  options.sharpen = sharpen;
  // The second field is checked as the frame is, but is not an input of
  // its own: its failure fails the frame it completes (and is told there);
  // its damage is a warning, or with --strict that failure.
  const std::string field2_name = DisplayName(field2);
  std::string field2_error, field2_warning;
  std::vector<std::string> field2_problems;  // its damage, in the picture's report
  if (!field2.empty()) {
    if (field2 == kStdio && o.args[0] == kStdio)
      throw UsageError{"standard input (-) can be read once"};
    if (!LoadFrame(field2, options.field2, field2_error) && g_interrupted.load() != 0)
      DieOfInterruption();
    const FrameReport check = field2_error.empty() ? CheckFrame(options.field2) : FrameReport{};
    if (field2_error.empty() && check.damaged()) {
      if (strict) {
        field2_error = "is damaged (" + Problems(check) + ")";
      } else {
        field2_warning = "quill: " + field2_name + ": warning: damaged (" + Problems(check) +
                         "); decoded as it is";
        for (const auto& p : check.problems)
          field2_problems.push_back("second field " + field2_name + ": " + p);
      }
    }
    FileId id;
    if (IdOf(field2, id)) plan.input_ids.insert(id);
  }
  RefuseOverwrites(plan, false);
  MakeOutputFolders(o, plan);
  PrintWarnings(plan);
  Reporter reporter(plan.inputs.size(), !o.quiet, o.verbose, o.json);
  RunBatch(
      plan.inputs.size(), o.jobs, o.sync(), o.no_clobber, [&](std::size_t i, OutputBatch& batch) {
        const std::string file = DisplayName(plan.inputs[i].path);
        const std::string& target = plan.targets[i];
        if (!plan.inputs[i].error.empty())
          return DeliverFailure(reporter, i, file, plan.inputs[i].error, o.json, target);
        if (!field2_error.empty())
          return DeliverFailure(
              reporter, i, file,
              "not decoded: its second field " + field2_name + " failed (" + field2_error + ")",
              o.json, target);
        if (Refused(plan, o, reporter, i, file, target)) return;
        std::vector<std::uint8_t> frame;
        std::string error;
        if (!LoadFrame(plan.inputs[i].path, frame, error))
          return DeliverFailure(reporter, i, file, error, o.json, target);
        FrameReport check = CheckFrame(frame);
        Outcome outcome;
        if (!field2_warning.empty()) outcome.warnings.push_back(field2_warning);
        if (check.damaged()) {
          if (strict)
            return DeliverFailure(reporter, i, file, "is damaged (" + Problems(check) + ")", o.json,
                                  target);
          outcome.warnings.push_back("quill: " + file + ": warning: damaged (" + Problems(check) +
                                     "); decoded as it is");
        }
        check.problems.insert(check.problems.end(), field2_problems.begin(), field2_problems.end());
        std::vector<std::uint8_t> bytes;
        if (!DecodedFile(frame, options, fmt, png_level, bytes, error))
          return DeliverFailure(reporter, i, file, error, o.json, target);
        Emit(i, target, std::move(bytes), std::move(outcome), batch, reporter,
             [&o, file, target, check](Outcome& out, bool written, const std::string& err) {
               if (written && target != kStdio) out.notes.push_back(file + " -> " + target);
               if (o.json) out.report = WriteJson(file, target, written, err, &check);
             });
      });
  return FinishBatch(reporter);
}

// The picture files encode takes, by extension (folders walked with -r).
const std::vector<std::string> kPictureExtensions = {".bmp", ".png", ".ppm", ".pgm",
                                                     ".pam", ".pnm", ".jpg", ".jpeg"};

int Encode(const BatchOptions& o, FitMode mode) {
  // A frame under a picture's name would be taken for a picture.
  ImageFormat picture_format;
  if (!o.out.empty() && !IsStreamOutput(o.out) && FormatOfPath(o.out, picture_format))
    throw UsageError{o.out + ": encode writes a frame, not a picture (name it .yuv)"};
  Plan plan = MakePlan(o, kPictureExtensions, ".yuv");
  RefuseOverwrites(plan, true);
  MakeOutputFolders(o, plan);
  PrintWarnings(plan);
  Reporter reporter(plan.inputs.size(), !o.quiet, o.verbose, o.json);
  RunBatch(plan.inputs.size(), o.jobs, o.sync(), o.no_clobber,
           [&](std::size_t i, OutputBatch& batch) {
             const std::string file = DisplayName(plan.inputs[i].path);
             const std::string& target = plan.targets[i];
             if (!plan.inputs[i].error.empty())
               return DeliverFailure(reporter, i, file, plan.inputs[i].error, o.json, target);
             if (Refused(plan, o, reporter, i, file, target)) return;
             RgbImage image;
             Picture picture;
             std::vector<std::uint8_t> frame;
             std::string error;
             if (!ReadImage(plan.inputs[i].path, image, error, mode) ||
                 !FrameSizedPicture(image, mode, picture, error) ||
                 !EncodePicture(picture, frame, error))
               return DeliverFailure(reporter, i, file, error, o.json, target);
             const FrameReport check = CheckFrame(frame);
             Emit(i, target, std::move(frame), Outcome{}, batch, reporter,
                  [&o, file, target, check](Outcome& out, bool written, const std::string& err) {
                    if (written && target != kStdio)
                      out.notes.push_back(file + " -> " + target + ": quality step " +
                                          std::to_string(check.quality_step));
                    if (o.json) out.report = WriteJson(file, target, written, err, &check);
                  });
           });
  return FinishBatch(reporter);
}

int Info(const BatchOptions& o) {
  Plan plan;
  plan.inputs = ExpandInputs(o.args, o.recursive, {".yuv"}, plan.warnings);
  std::size_t stdio_inputs = 0;
  for (const auto& in : plan.inputs) stdio_inputs += in.path == kStdio;
  if (stdio_inputs > 1) throw UsageError{"standard input (-) can be read once"};
  PrintWarnings(plan);
  std::atomic<std::size_t> damaged{0};
  Reporter reporter(plan.inputs.size(), !o.quiet, o.verbose, o.json);
  RunBatch(plan.inputs.size(), o.jobs, SyncMode::kNone, false, [&](std::size_t i, OutputBatch&) {
    const std::string& path = plan.inputs[i].path;
    std::vector<std::uint8_t> frame;
    std::string error;
    Outcome outcome;
    if (!plan.inputs[i].error.empty() || !LoadFrame(path, frame, error)) {
      if (error.empty()) error = plan.inputs[i].error;
      outcome.failed = true;
      outcome.errors.push_back(DisplayName(path) + ": " + error);
      if (o.json)
        outcome.report =
            "{\"file\": " + JsonString(path) + ", \"error\": " + JsonString(error) + "}";
    } else {
      const FrameReport r = CheckFrame(frame);
      if (r.damaged()) damaged.fetch_add(1);
      outcome.report = o.json ? InfoJson(path, r) : InfoText(DisplayName(path), r);
    }
    reporter.Deliver(i, std::move(outcome));
  });
  return FinishBatch(reporter, damaged.load());
}

// smooth, sharpen, subsample, combine: one picture in (or two), one out.
int PictureOperation(const std::string& op, const std::vector<std::string>& inputs,
                     const std::string& out_path, const std::string& format_name, bool no_clobber,
                     SyncMode sync, int png_level, bool verbose) {
  ImageFormat fmt = kFormats.at(format_name);
  const bool stream = IsStreamOutput(out_path);
  if (!stream && !FormatOfPath(out_path, fmt)) throw UsageError{out_path + ": " + kPictureOutputs};
  if (out_path == kStdio && ::isatty(1))
    throw UsageError{"refusing to write binary data to a terminal; redirect standard output"};
  if (inputs.size() == 2 && inputs[0] == kStdio && inputs[1] == kStdio)
    throw UsageError{"standard input (-) can be read once"};
  auto fail = [](const std::string& file, const std::string& error) {
    std::cerr << "quill: " << file << ": " << error << "\n";
    return 1;
  };
  for (const auto& in : inputs) {
    FileId a, b;
    if (!stream && IdOf(in, a) && IdOf(out_path, b) && !(a < b) && !(b < a))
      throw UsageError{out_path + ": is also an input; refusing to overwrite it"};
  }
  if (KeptByNoClobber(no_clobber, out_path)) {
    if (verbose) std::cerr << "quill: " << out_path << ": exists; left as it is (--no-clobber)\n";
    return 0;
  }
  Picture pictures[2], result;
  std::string error;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (!ReadImage(inputs[i], pictures[i], error, FitMode::kNone))
      return fail(DisplayName(inputs[i]), error);
  }
  bool ok = false;
  if (op == "smooth") {
    ok = SmoothPicture(pictures[0], error);
    result = pictures[0];
  } else if (op == "sharpen") {
    ok = SharpenPicture(pictures[0], error);
    result = pictures[0];
  } else if (op == "subsample") {
    ok = SubsamplePicture(pictures[0], result, error);
  } else {
    ok = CombinePictures(pictures[0], pictures[1], result, error);
  }
  if (!ok) return fail(DisplayName(inputs[0]), error);
  std::vector<std::uint8_t> bytes;
  if (!PictureFile(result, fmt, png_level, bytes, error)) return fail(OutputName(out_path), error);
  if (stream) {
    if (WriteStream(out_path, bytes.data(), bytes.size(), error)) return 0;
    return g_interrupted.load() == SIGPIPE ? 1 : fail(OutputName(out_path), error);
  }
  for (const auto& line : RemoveStaleTemporaries(fs::path(out_path).parent_path().string()))
    std::cerr << line << "\n";
  int status = 0;
  OutputBatch batch(sync, no_clobber);
  batch.Stage(out_path, bytes.data(), bytes.size(),
              [&](OutputBatch::Status s, const std::string& e) {
                if (s == OutputBatch::Status::kFailed) {
                  status = fail(out_path, e);
                } else if (s == OutputBatch::Status::kKept && verbose) {
                  std::cerr << "quill: " << out_path << ": exists; left as it is (--no-clobber)\n";
                } else if (s == OutputBatch::Status::kWritten && verbose) {
                  std::cerr << DisplayName(inputs[0]) << (inputs.size() > 1 ? " + " : "")
                            << (inputs.size() > 1 ? DisplayName(inputs[1]) : "") << " -> "
                            << out_path << "\n";
                }
              });
  batch.Commit();
  return status;
}

// The first word that is not an option must name a subcommand.
const char* UnknownSubcommand(int argc, char** argv, const std::vector<std::string>& names) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.starts_with("-")) continue;
    for (const auto& n : names)
      if (arg == n) return nullptr;
    return argv[i];
  }
  return nullptr;
}

// QUILL32_VECTOR_LEVEL, which every library context of the tool takes
// (capped at the processor's best, as the library caps it), must name a
// level; false for a name that is none.
bool CheckVectorLevel() {
  if (VectorLevelKnown()) return true;
  std::fprintf(stderr,
               "quill: QUILL32_VECTOR_LEVEL=%s: no such vector level "
               "(plain, sse2, avx2, avx512bw or avx512vbmi)\n",
               std::getenv("QUILL32_VECTOR_LEVEL"));
  return false;
}

int Main(int argc, char** argv) {
  if (!CheckVectorLevel()) return 2;
  CLI::App app{"quill: encode, decode and check QUILL32 frames (320x240 pictures in 24,576 bytes)",
               "quill"};
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("quill: ") + e.what() + "\nRun with --help for more information.\n";
  });
  app.option_defaults()->always_capture_default();
  app.set_version_flag("--version", std::string(kVersion) + "\nvector level: " + VectorLevelName());
  app.require_subcommand(0, 1);  // none: the usage, as a usage error
  bool quiet = false, verbose = false;
  // Before the subcommand or after it, where its --help shows them.
  auto add_talk = [&](CLI::App* cmd) {
    cmd->add_flag("-q,--quiet", quiet,
                  "No progress line (errors, damage warnings and the summary stay)");
    cmd->add_flag("-v,--verbose", verbose, "A line for each output written (X -> Y)");
  };
  add_talk(&app);

  BatchOptions dec, enc, inf;
  std::string format = "png", size = "320x240", field2;
  bool sharpen = false, strict = false;
  int png_level = kPngDefaultLevel;
  bool fit = false, fill = false, crop = false;
  auto add_png_level = [&](CLI::App* cmd) {
    cmd->add_option("--png-level", png_level, "PNG compression: 0 stores, 1 fastest, 12 smallest")
        ->check(CLI::Range(0, kPngMaxLevel));
  };

  auto* decode = app.add_subcommand("decode", "Decode frames to pictures (PNG, BMP or PPM)");
  decode->add_option("FRAME", dec.args, "Frame files of 24,576 bytes, folders with -r, or -")
      ->required();
  AddBatchOptions(decode, dec, true);
  auto* format_option =
      decode
          ->add_option("--format", format,
                       "Output format (png, bmp or ppm) with -d, -o - or next to the inputs")
          ->check(CLI::IsMember({"png", "bmp", "ppm"}));
  auto* size_option = decode->add_option("--size", size, "Picture size")
                          ->check(CLI::IsMember({"320x240", "640x480"}));
  decode->add_flag("--sharpen", sharpen, "Sharpen the luma before rendering");
  decode->add_option("--field2", field2,
                     "Second field of a 640x480 picture (implies --size 640x480; the frame is "
                     "the first)");
  decode->add_flag("--strict", strict, "Fail on damaged frames instead of decoding them");
  add_png_level(decode);

  auto* encode = app.add_subcommand(
      "encode",
      "Encode pictures to frames (320x240; 640x480 halved; others by --fit/--fill/--crop)");
  encode
      ->add_option("IMAGE", enc.args,
                   "BMP, PNG, PPM/PGM/PAM or JPEG pictures, folders with -r, or -")
      ->required();
  AddBatchOptions(encode, enc, true);
  auto* fit_flag =
      encode->add_flag("--fit", fit, "Other sizes: all of the picture, resized, on black");
  auto* fill_flag = encode->add_flag(
      "--fill", fill, "Other sizes: all of the frame, resized, the overhang cut off");
  auto* crop_flag =
      encode->add_flag("--crop", crop, "Other sizes: the centre, not resized (black around)");
  fit_flag->excludes(fill_flag)->excludes(crop_flag);
  fill_flag->excludes(crop_flag);

  auto* info = app.add_subcommand("info", "Check frames and report what they hold");
  info->add_option("FRAME", inf.args, "Frame files, folders with -r, or -")->required();
  AddBatchOptions(info, inf, false);

  std::string in_path, in2_path, out_path, op_format = "png";
  bool op_no_clobber = false;
  std::string op_sync = "batch";
  auto* smooth = app.add_subcommand("smooth", "Smooth a picture (7x7 pyramid filter)");
  auto* sharpen_cmd = app.add_subcommand("sharpen", "Sharpen a picture");
  auto* subsample = app.add_subcommand("subsample", "Halve a 640x480 picture to 320x240");
  auto* combine = app.add_subcommand("combine", "Build a 640x480 picture from two 320x240 fields");
  for (auto* cmd : {smooth, sharpen_cmd, subsample, combine}) {
    cmd->add_option(cmd == combine ? "FIELD1" : "IN", in_path,
                    "Input picture (BMP, PNG, PPM/PGM/PAM or JPEG), or -")
        ->required();
    if (cmd == combine) cmd->add_option("FIELD2", in2_path, "Second field")->required();
    cmd->add_option("OUT", out_path,
                    "Output picture (.png, .bmp or .ppm), or - for standard output")
        ->required();
    cmd->add_option("--format", op_format, "Format of - as output: png, bmp or ppm")
        ->check(CLI::IsMember({"png", "bmp", "ppm"}));
    cmd->add_flag("-n,--no-clobber", op_no_clobber, "Leave an existing output as it is");
    cmd->add_option("--sync", op_sync, "How the output reaches the disk: batch, each or none")
        ->check(CLI::IsMember({"batch", "each", "none"}));
    add_png_level(cmd);
  }

  std::vector<std::string> names;
  for (auto* sub : app.get_subcommands({})) {
    names.push_back(sub->get_name());
    add_talk(sub);
  }
  if (const char* unknown = UnknownSubcommand(argc, argv, names)) {
    std::cerr << "quill: unknown subcommand '" << unknown << "' (subcommands: decode, encode, "
              << "info, smooth, sharpen, subsample, combine; see --help)\n";
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  if (app.get_subcommands().empty()) {
    std::cerr << app.help() << "quill: a subcommand is required\n";
    return 2;
  }
  for (BatchOptions* o : {&dec, &enc, &inf}) {
    o->quiet = quiet;
    o->verbose = verbose;
    const int most = kJobsPerProcessor * OnlineProcessors();
    if (o->jobs > most) {
      std::cerr << "quill: note: -j " << o->jobs << " lowered to " << most << " ("
                << kJobsPerProcessor << " per processor; more only cost memory)\n";
      o->jobs = most;
    }
  }
  CaptureUmask();
  CatchInterruptions();
  for (std::string* out : {&dec.out, &enc.out, &out_path}) *out = StdoutAsDash(*out);
  try {
    if (decode->parsed()) {
      return Decode(dec, format, format_option->count() > 0, size, size_option->count() > 0,
                    sharpen, field2, strict, png_level);
    }
    if (encode->parsed()) {
      if (!enc.out.empty() && enc.out == kStdio && ::isatty(1))
        throw UsageError{"refusing to write binary data to a terminal; redirect standard output"};
      const FitMode mode = fit    ? FitMode::kFit
                           : fill ? FitMode::kFill
                           : crop ? FitMode::kCrop
                                  : FitMode::kNone;
      return Encode(enc, mode);
    }
    if (info->parsed()) return Info(inf);
    std::vector<std::string> inputs = {in_path};
    if (combine->parsed()) inputs.push_back(in2_path);
    const std::string op = smooth->parsed()        ? "smooth"
                           : sharpen_cmd->parsed() ? "sharpen"
                           : subsample->parsed()   ? "subsample"
                                                   : "combine";
    const int status = PictureOperation(op, inputs, out_path, op_format, op_no_clobber,
                                        kSyncModes.at(op_sync), png_level, verbose);
    if (g_interrupted.load() != 0) DieOfInterruption();
    return status;
  } catch (const UsageError& e) {
    std::cerr << "quill: " << e.text << "\n";
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Each input allocates and frees a few blocks of 100 KB to 1 MB; kept in
  // the heap (not given back to the kernel each time) they cost no page
  // faults the next time. The peak stays what one input per job needs.
  ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
  try {
    const int status = Main(argc, argv);
    // Reports and help that could not be written are lost output: say so, as
    // coreutils does (a gone reader has already ended the run as SIGPIPE).
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "quill: standard output: write error: %s\n",
                   errno != 0 ? std::strerror(errno) : "unknown error");
      return 1;
    }
    return status;
  } catch (const std::exception& e) {
    std::cerr << "quill: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "quill: unexpected failure\n";
  }
  return 1;
}
