// quill: the QUILL32 codec on the command line. Decodes frames to pictures,
// encodes pictures to frames, checks frames, and runs the picture
// operations. Data and reports go to standard output; messages and progress
// to standard error. Exit status: 0 all inputs done, 1 some input failed,
// 2 usage error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "output.h"

namespace {

using namespace quill::cli;
namespace fs = std::filesystem;

constexpr const char* kVersion = "quill 0.1.0 (QUILL32 codec)";

struct Run {
  bool quiet = false;
  int failed = 0;

  void Fail(const std::string& file, const std::string& problem) {
    ++failed;
    std::cerr << "quill: " << file << ": " << problem << "\n";
  }
  void Note(const std::string& text) const {
    if (!quiet) std::cerr << text << "\n";
  }
};

// Progress on batches, only when standard error is a terminal.
class Progress {
 public:
  Progress(std::size_t total, bool quiet)
      : total_(total), shown_(!quiet && total > 1 && ::isatty(2)) {}
  ~Progress() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
  }
  void Step(std::size_t index, const std::string& name) const {
    if (shown_) std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", index + 1, total_, name.c_str());
  }

 private:
  std::size_t total_;
  bool shown_;
};

// Where the output for `input` goes: -o OUT for one input, DIR/<stem><ext>
// with -d, else next to the input.
std::string OutputFor(const std::string& input, const std::string& out, const std::string& dir,
                      const std::string& ext) {
  if (!out.empty()) return out;
  const fs::path stem = fs::path(input).stem();
  if (!dir.empty()) return (fs::path(dir) / stem).string() + ext;
  return (fs::path(input).parent_path() / stem).string() + ext;
}

int Finish(const Run& run, std::size_t total) {
  if (run.failed > 0) {
    std::cerr << "quill: " << run.failed << " of " << total << " input" << (total == 1 ? "" : "s")
              << " failed\n";
    return 1;
  }
  return 0;
}

bool CheckOutputPath(Run& run, const std::string& output, const std::vector<std::string>& inputs) {
  for (const auto& input : inputs) {
    if (SamePath(input, output)) {
      run.Fail(output, "is also an input; refusing to overwrite it");
      return false;
    }
  }
  return true;
}

void PrintJson(std::ostream& os, const std::string& file, const FrameReport& r, bool last) {
  std::ostringstream problems;
  for (std::size_t i = 0; i < r.problems.size(); ++i)
    problems << (i ? ", " : "") << "\"" << r.problems[i] << "\"";
  std::string escaped;
  for (char c : file) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  os << "  {\"file\": \"" << escaped << "\", \"kind\": \"" << (r.tagged ? "tagged" : "legacy")
     << "\", \"tag\": " << int{r.tag} << ", \"quality_step\": " << r.quality_step
     << ", \"luma_end\": " << r.luma_end << ", \"bitstream_end\": " << r.bitstream_end
     << ", \"unmatched_codes\": " << r.unmatched_codes
     << ", \"overrunning_blocks\": " << r.overrunning_blocks
     << ", \"clear_of_tag\": " << (r.clear_of_tag ? "true" : "false")
     << ", \"frame_sum\": " << int{r.frame_sum}
     << ", \"damaged\": " << (r.damaged() ? "true" : "false") << ", \"problems\": ["
     << problems.str() << "]}" << (last ? "\n" : ",\n");
}

std::string TagText(std::uint8_t tag) {
  char text[16];
  if (tag >= 0x20 && tag < 0x7F) {
    std::snprintf(text, sizeof text, "\"%c\"", tag);
  } else {
    std::snprintf(text, sizeof text, "0x%02X", tag);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"quill: encode, decode and check QUILL32 frames (320x240 pictures in 24,576 bytes)"};
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);
  app.fallthrough();  // -q works after the subcommand too
  Run run;
  app.add_flag("-q,--quiet", run.quiet, "Print no progress and no notes");

  // decode
  std::vector<std::string> frames;
  std::string out, dir, format = "png", size = "320x240", field2;
  bool sharpen = false;
  auto* decode = app.add_subcommand("decode", "Decode frames to pictures (PNG or BMP)");
  decode->add_option("FRAME", frames, "Frame files of 24,576 bytes")->required();
  auto* decode_out =
      decode->add_option("-o,--output", out, "Output picture (one frame only); .png or .bmp");
  decode->add_option("-d,--dir", dir, "Folder for the outputs, named after the frames")
      ->excludes(decode_out);
  decode->add_option("--format", format, "Output format with -d or by default")
      ->check(CLI::IsMember({"png", "bmp"}));
  decode->add_option("--size", size, "Picture size")->check(CLI::IsMember({"320x240", "640x480"}));
  decode->add_flag("--sharpen", sharpen, "Sharpen the luma before rendering");
  decode->add_option("--field2", field2, "Second field for 640x480 (frame A is the first)");

  // encode
  std::vector<std::string> images;
  auto* encode = app.add_subcommand("encode", "Encode 320x240 or 640x480 pictures to frames");
  encode->add_option("IMAGE", images, "BMP or PNG pictures")->required();
  auto* encode_out = encode->add_option("-o,--output", out, "Output frame (one picture only)");
  encode->add_option("-d,--dir", dir, "Folder for the frames, named after the pictures")
      ->excludes(encode_out);

  // info
  bool json = false;
  auto* info = app.add_subcommand("info", "Check frames and report what they hold");
  info->add_option("FRAME", frames, "Frame files")->required();
  info->add_flag("--json", json, "Report as JSON");

  // picture operations
  std::string in_path, in2_path, out_path;
  auto* smooth = app.add_subcommand("smooth", "Smooth a picture (7x7 pyramid filter)");
  auto* sharpen_cmd = app.add_subcommand("sharpen", "Sharpen a picture");
  auto* subsample = app.add_subcommand("subsample", "Halve a 640x480 picture to 320x240");
  for (auto* cmd : {smooth, sharpen_cmd, subsample}) {
    cmd->add_option("IN", in_path, "Input picture (BMP or PNG)")->required();
    cmd->add_option("OUT", out_path, "Output picture (.png or .bmp)")->required();
  }
  auto* combine = app.add_subcommand("combine", "Build a 640x480 picture from two 320x240 fields");
  combine->add_option("FIELD1", in_path, "First field")->required();
  combine->add_option("FIELD2", in2_path, "Second field")->required();
  combine->add_option("OUT", out_path, "Output picture (.png or .bmp)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  auto usage = [](const std::string& text) {
    std::cerr << "quill: " << text << "\n";
    return 2;
  };

  if (decode->parsed()) {
    ImageFormat fmt = format == "bmp" ? ImageFormat::kBmp : ImageFormat::kPng;
    if (!out.empty() && frames.size() > 1) return usage("-o takes one frame; use -d for several");
    if (!out.empty() && !FormatOfPath(out, fmt))
      return usage(out + ": the output must end in .png or .bmp");
    if (!field2.empty() && (size != "640x480" || frames.size() != 1)) {
      return usage("--field2 needs --size 640x480 and one frame");
    }
    if (!dir.empty()) fs::create_directories(dir);
    const std::string ext = fmt == ImageFormat::kPng ? ".png" : ".bmp";
    DecodeOptions options{size == "640x480", sharpen, field2};
    Progress progress(frames.size(), run.quiet);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      progress.Step(i, frames[i]);
      const std::string target = OutputFor(frames[i], out, dir, ext);
      std::vector<std::string> inputs = {frames[i]};
      if (!field2.empty()) inputs.push_back(field2);
      if (!CheckOutputPath(run, target, inputs)) continue;
      Picture picture;
      std::string error;
      if (!DecodeFrameFile(frames[i], options, picture, error)) {
        run.Fail(frames[i], error);
      } else if (!SavePicture(picture, target, fmt, error)) {
        run.Fail(target, error);
      } else {
        run.Note(frames[i] + " -> " + target);
      }
    }
    return Finish(run, frames.size());
  }

  if (encode->parsed()) {
    if (!out.empty() && images.size() > 1) return usage("-o takes one picture; use -d for several");
    if (!dir.empty()) fs::create_directories(dir);
    Progress progress(images.size(), run.quiet);
    for (std::size_t i = 0; i < images.size(); ++i) {
      progress.Step(i, images[i]);
      const std::string target = OutputFor(images[i], out, dir, ".yuv");
      if (!CheckOutputPath(run, target, {images[i]})) continue;
      Picture picture;
      std::vector<std::uint8_t> frame;
      std::string error;
      if (!ReadPicture(images[i], picture, error) || !EncodePicture(picture, frame, error)) {
        run.Fail(images[i], error);
      } else if (!WriteBytesAtomically(target, frame, error)) {
        run.Fail(target, error);
      } else {
        std::cout << target << ": quality step " << int{frame[1]} << "\n";
      }
    }
    return Finish(run, images.size());
  }

  if (info->parsed()) {
    if (json) std::cout << "[\n";
    std::size_t damaged = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      std::vector<std::uint8_t> frame;
      std::string error;
      if (!LoadFrame(frames[i], frame, error)) {
        run.Fail(frames[i], error);
        if (json)
          std::cout << "  {\"file\": \"" << frames[i] << "\", \"error\": \"" << error << "\"}"
                    << (i + 1 == frames.size() ? "\n" : ",\n");
        continue;
      }
      const FrameReport r = CheckFrame(frame);
      if (r.damaged()) ++damaged;
      if (json) {
        PrintJson(std::cout, frames[i], r, i + 1 == frames.size());
        continue;
      }
      std::cout << frames[i] << ": " << (r.tagged ? "tagged " : "legacy ") << TagText(r.tag)
                << ", quality step " << r.quality_step << ", bitstream ends at " << r.bitstream_end
                << ", frame sum 0x" << std::hex << int{r.frame_sum} << std::dec;
      if (r.damaged()) {
        std::cout << ", DAMAGED:";
        for (const auto& p : r.problems) std::cout << " " << p << ";";
      } else {
        std::cout << ", ok";
      }
      std::cout << "\n";
    }
    if (json) std::cout << "]\n";
    if (damaged > 0) {
      std::cerr << "quill: " << damaged << " of " << frames.size() << " frames damaged\n";
      run.failed += static_cast<int>(damaged);
    }
    return run.failed > 0 ? 1 : 0;
  }

  // The single-picture operations.
  ImageFormat fmt;
  if (!FormatOfPath(out_path, fmt))
    return usage(out_path + ": the output must end in .png or .bmp");
  std::vector<std::string> inputs = {in_path};
  if (combine->parsed()) inputs.push_back(in2_path);
  if (!CheckOutputPath(run, out_path, inputs)) return 1;
  Picture picture, second, result;
  std::string error;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (!ReadPicture(inputs[i], i == 0 ? picture : second, error)) {
      run.Fail(inputs[i], error);
      return 1;
    }
  }
  bool ok = false;
  if (smooth->parsed()) {
    ok = SmoothPicture(picture, error);
    result = picture;
  } else if (sharpen_cmd->parsed()) {
    ok = SharpenPicture(picture, error);
    result = picture;
  } else if (subsample->parsed()) {
    ok = SubsamplePicture(picture, result, error);
  } else {
    ok = CombinePictures(picture, second, result, error);
  }
  if (!ok) {
    run.Fail(in_path, error);
    return 1;
  }
  if (!SavePicture(result, out_path, fmt, error)) {
    run.Fail(out_path, error);
    return 1;
  }
  run.Note(out_path + ": " + std::to_string(result.width) + "x" + std::to_string(result.height));
  return 0;
}
