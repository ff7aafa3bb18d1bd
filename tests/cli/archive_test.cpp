// `quill` at archive scale, through the real binary: PNGs that read back to
// the decoded pixels, batches on several threads, streams and folders,
// output modes and refusals, JSON that parsers accept, damaged frames,
// progress on a terminal only, and interruption.
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "cli_fixture.h"

namespace {

using namespace quill_cli_test;
namespace fs = std::filesystem;

// The pixels of a PNG as bottom-up BGR rows, read by libpng.
std::vector<char> PngPixels(const std::vector<char>& file, int& width, int& height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
  image.format = PNG_FORMAT_BGR;
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  std::vector<char> pixels(PNG_IMAGE_SIZE(image));
  const auto stride = -static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), stride, nullptr)) return {};
  return pixels;
}

// A frame whose bitstream is noise: damaged, and decoded to noise.
std::vector<char> NoiseFrame() {
  std::vector<char> frame(24576);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<char>((i * 7919) >> 3);
  frame[1] = 3;
  frame[24575] = 'Z';
  return frame;
}

TEST_F(Cli, PngsReadBackToTheDecodedPixels) {
  Write("noise.yuv", NoiseFrame());
  const std::string frames[] = {Sample("testcard.yuv"), Sample("photos/rocket.yuv"),
                                Path("noise.yuv")};
  for (const auto& frame : frames) {
    for (const char* size : {"320x240", "640x480"}) {
      const std::string common = "decode -q " + frame + " --size " + std::string(size);
      ASSERT_EQ(Quill(common + " -o " + Path("ref.bmp")).status, 0);
      const auto bmp = Read(Path("ref.bmp"));
      const std::vector<char> expected(bmp.begin() + 54, bmp.end());
      // Every level, and the filter's plain and SSE2 code too.
      const std::pair<std::string, std::string> runs[] = {{"", "0"},
                                                          {"", "1"},
                                                          {"", "12"},
                                                          {"QUILL32_VECTOR_LEVEL=plain ", "1"},
                                                          {"QUILL32_VECTOR_LEVEL=sse2 ", "1"}};
      for (const auto& [vector, level] : runs) {
        SCOPED_TRACE(frame + " " + size + " level " + level + " " + vector);
        ASSERT_EQ(Quill(common + " --png-level " + level + " -o " + Path("p.png"), vector).status,
                  0);
        int width = 0, height = 0;
        EXPECT_EQ(PngPixels(Read(Path("p.png")), width, height), expected);
        EXPECT_EQ(std::to_string(width) + "x" + std::to_string(height), size);
      }
    }
  }
}

TEST_F(Cli, ParallelBatchesWriteWhatOneJobWritesAndCountEveryFailure) {
  fs::create_directories(Path("in"));
  const char* sources[] = {"testcard.yuv", "busy.yuv", "legacy.yuv", "photos/coffee.yuv"};
  std::string inputs;
  for (int i = 0; i < 16; ++i) {
    const std::string name = Path("in/f" + std::to_string(i) + ".yuv");
    fs::copy_file(Sample(sources[i % 4]), name);
    inputs += " " + name;
  }
  Write("in/short.yuv", std::vector<char>(100));
  inputs += " " + Path("in/short.yuv") + " " + Path("in/missing.yuv");
  std::vector<char> reference;
  for (const std::string run : {"-j 1 --sync none", "-j 3", "-j 2 --sync each", "-j 8"}) {
    SCOPED_TRACE(run);
    fs::remove_all(Path("out"));
    const Result r = Quill("decode -v " + run + inputs + " -d " + Path("out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("quill: 2 of 18 inputs failed"), std::string::npos) << r.err;
    // Whole lines, in input order: f0 .. f15, then the two failures.
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t nl; (nl = r.err.find('\n', from)) != std::string::npos; from = nl + 1)
      if (!r.err.substr(from).starts_with("quill: note: -j"))  // on one or two processors
        lines.push_back(r.err.substr(from, nl - from));
    ASSERT_EQ(lines.size(), 19u) << r.err;
    for (int i = 0; i < 16; ++i)
      EXPECT_EQ(lines[i], Path("in/f" + std::to_string(i) + ".yuv") + " -> " +
                              Path("out/f" + std::to_string(i) + ".png"));
    EXPECT_NE(lines[16].find("short.yuv: is 100 bytes"), std::string::npos);
    EXPECT_NE(lines[17].find("missing.yuv: cannot be read: No such file"), std::string::npos);
    std::vector<char> all;
    for (int i = 0; i < 16; ++i) {
      const auto png = Read(Path("out/f" + std::to_string(i) + ".png"));
      all.insert(all.end(), png.begin(), png.end());
    }
    if (reference.empty()) reference = all;
    EXPECT_EQ(all, reference);
    EXPECT_EQ(Leftovers("out").size(), 16u);  // no temporaries left
  }
}

TEST_F(Cli, StreamsAndPipes) {
  ASSERT_EQ(Quill("decode -q " + Sample("busy.yuv") + " -o " + Path("ref.png")).status, 0);
  ASSERT_EQ(Quill("decode -q " + Sample("busy.yuv") + " -o " + Path("ref.bmp")).status, 0);
  struct Case {
    std::string before, args, output, expected;
  };
  const Case cases[] = {
      {"cat " + Sample("busy.yuv") + " | ", "decode - -o " + Path("a.png"), Path("a.png"),
       Path("ref.png")},
      {"cat " + Sample("busy.yuv") + " | ", "decode /dev/stdin -o " + Path("b.png"), Path("b.png"),
       Path("ref.png")},
      {"cat " + Sample("busy.yuv") + " | ", "decode - > " + Path("c.png"), Path("c.png"),
       Path("ref.png")},
      {"", "decode " + Sample("busy.yuv") + " -o - --format bmp > " + Path("d.bmp"), Path("d.bmp"),
       Path("ref.bmp")},
      {"cat " + Sample("testcard.bmp") + " | ", "encode - -o - > " + Path("e.yuv"), Path("e.yuv"),
       Sample("testcard.yuv")},
      {"cat " + Path("ref.bmp") + " | ", "smooth - - > " + Path("f.png"), Path("f.png"), ""},
      // Devices and pipes are written to directly, in the --format asked.
      {"", "decode " + Sample("busy.yuv") + " -o /dev/stdout > " + Path("g.png"), Path("g.png"),
       Path("ref.png")},
      {"", "decode " + Sample("busy.yuv") + " --format bmp -o /dev/null", "", ""},
      {"", "smooth " + Path("ref.bmp") + " /dev/stdout | cat > " + Path("h.png"), Path("h.png"),
       ""},
      // An input that is a device or a pipe has no folder to write beside:
      // its output goes to standard output, as that of - does.
      {"cat " + Sample("busy.yuv") + " | ", "decode /dev/stdin > " + Path("i.png"), Path("i.png"),
       Path("ref.png")},
      {"cat " + Sample("testcard.bmp") + " | ", "encode -q /dev/stdin | cat > " + Path("j.yuv"),
       Path("j.yuv"), Sample("testcard.yuv")},
      {"mkfifo " + Path("fifo") + "; cat " + Sample("busy.yuv") + " > " + Path("fifo") + " & ",
       "decode " + Path("fifo") + " --format bmp > " + Path("k.bmp"), Path("k.bmp"),
       Path("ref.bmp")},
      {"", "decode /dev/fd/3 3<" + Sample("busy.yuv") + " > " + Path("l.png"), Path("l.png"),
       Path("ref.png")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before + c.args);
    const Result r = Quill(c.args, c.before);
    EXPECT_EQ(r.status, 0) << r.err;
    if (!c.expected.empty()) {
      EXPECT_EQ(Read(c.output), Read(c.expected));
    }
  }
  EXPECT_FALSE(fs::exists("/dev/stdin.png"));
  EXPECT_FALSE(fs::exists("/dev/stdin.yuv"));
  int width = 0, height = 0;
  EXPECT_FALSE(PngPixels(Read(Path("f.png")), width, height).empty());
  const Result info = Quill("info -", "cat " + Sample("busy.yuv") + " | ");
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out.rfind("standard input: tagged \"Z\", quality step 8", 0), 0u) << info.out;
}

TEST_F(Cli, FoldersAreWalkedWithRecursiveOnly) {
  fs::create_directories(Path("archive/2024/may"));
  fs::copy_file(Sample("testcard.yuv"), Path("archive/top.yuv"));
  fs::copy_file(Sample("busy.yuv"), Path("archive/2024/may/one.YUV"));
  fs::copy_file(Sample("busy.yuv"), Path("archive/2024/.hidden.yuv"));
  Write("archive/2024/notes.txt", {'x'});
  fs::create_symlink(Path("nowhere.yuv"), Path("archive/gone.yuv"));
  fs::create_directories(Path("empty"));
  const Result flat = Quill("decode " + Path("archive") + " -d " + Path("out"));
  EXPECT_EQ(flat.status, 1);
  EXPECT_NE(flat.err.find("archive: is a folder (give -r to walk it)"), std::string::npos);
  // The only folder, named with a trailing slash: its contents go into -d.
  const Result walked = Quill("decode -q -r " + Path("archive/") + " -d " + Path("out"));
  ASSERT_EQ(walked.status, 0) << walked.err;
  EXPECT_TRUE(fs::exists(Path("out/top.png")));
  EXPECT_TRUE(fs::exists(Path("out/2024/may/one.png")));
  EXPECT_FALSE(fs::exists(Path("out/2024/.hidden.png")));
  // What is skipped is told: a dangling link, a folder with no input.
  EXPECT_NE(walked.err.find("quill: " + Path("archive/gone.yuv") +
                            ": warning: a dangling link; skipped\n"),
            std::string::npos)
      << walked.err;
  const Result empty = Quill("decode -r " + Path("empty") + " -d " + Path("out"));
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.err,
            "quill: " + Path("empty") + ": warning: no input found in it (files ending in .yuv)\n");
  // As cp -r: a folder named without a trailing slash, or one of several,
  // keeps its own name below -d.
  fs::create_directories(Path("other"));
  fs::copy_file(Sample("busy.yuv"), Path("other/top.yuv"));
  struct Case {
    std::string folders;
    std::vector<std::string> outputs;
  };
  const Case cases[] = {
      {Path("archive"), {"archive/top.png", "archive/2024/may/one.png"}},
      {Path("archive/") + " " + Path("other/"),
       {"archive/top.png", "archive/2024/may/one.png", "other/top.png"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folders);
    fs::remove_all(Path("named"));
    const Result r = Quill("decode -q -r " + c.folders + " -d " + Path("named"));
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& out : c.outputs) EXPECT_TRUE(fs::exists(Path("named/" + out))) << out;
  }
  // A file where a mirrored folder goes fails only the outputs below it.
  fs::create_directories(Path("blocked"));
  Write("blocked/2024", {'x'});
  const Result blocked = Quill("decode -v -r " + Path("archive/") + " -d " + Path("blocked"));
  EXPECT_EQ(blocked.status, 1);
  EXPECT_NE(blocked.err.find("one.YUV: not written: " + Path("blocked/2024/may") +
                             ": cannot be created: Not a directory"),
            std::string::npos)
      << blocked.err;
  EXPECT_NE(blocked.err.find("quill: 1 of 2 inputs failed"), std::string::npos);
  EXPECT_TRUE(fs::exists(Path("blocked/top.png")));
  const Result info = Quill("info -r " + Path("archive"));
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(std::count(info.out.begin(), info.out.end(), '\n'), 2);
  // A folder that cannot be walked (its path is past PATH_MAX) is reported
  // in its place, and in the JSON array.
  const std::string n(200, 'd');
  int fd = ::open(Path("archive/2024").c_str(), O_RDONLY);
  for (int i = 0; i < 24; ++i) {
    ::mkdirat(fd, n.c_str(), 0755);
    const int below = ::openat(fd, n.c_str(), O_RDONLY);
    ::close(fd);
    fd = below;
  }
  ::close(fd);
  const Result deep = Quill("decode --json -r " + Path("archive") + " -d " + Path("deep"));
  Shell("rm -rf " + Path("archive/2024/" + n));  // too deep for fs::remove_all
  EXPECT_EQ(deep.status, 1);
  EXPECT_LT(deep.out.find("cannot be walked: File name too long"), deep.out.find("one.YUV"));
  EXPECT_EQ(std::count(deep.out.begin(), deep.out.end(), '{'), 3) << deep.out;
  EXPECT_LT(deep.err.find("cannot be walked"), deep.err.find("one.YUV ->")) << deep.err;
}

TEST_F(Cli, OutputModesFollowTheUmaskOrTheReplacedFile) {
  Write("kept.png", {'o', 'l', 'd'});
  fs::permissions(Path("kept.png"), fs::perms(0640));
  struct Case {
    std::string umask, output;
    unsigned mode;
  };
  const Case cases[] = {
      {"022", "a.png", 0644},    {"077", "b.png", 0600}, {"002", "c.png", 0664},
      {"022", "kept.png", 0640}, {"027", "d.yuv", 0640},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    const bool frame = c.output.ends_with(".yuv");
    const std::string args = frame
                                 ? "encode -q " + Sample("testcard.bmp") + " -o " + Path(c.output)
                                 : "decode -q " + Sample("testcard.yuv") + " -o " + Path(c.output);
    ASSERT_EQ(Quill(args, "umask " + c.umask + "; ").status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(Path(c.output).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
  }
  EXPECT_GT(Read(Path("kept.png")).size(), 3u);
}

TEST_F(Cli, NoClobberAndSharedOutputNames) {
  Write("card.png", {'o', 'l', 'd'});
  const Result kept = Quill("decode -v -n " + Sample("testcard.yuv") + " -o " + Path("card.png"));
  EXPECT_EQ(kept.status, 0);
  EXPECT_NE(kept.err.find("card.png: exists; left as it is (--no-clobber)"), std::string::npos);
  EXPECT_EQ(Read(Path("card.png")), (std::vector<char>{'o', 'l', 'd'}));
  ASSERT_EQ(Quill("decode -q " + Sample("testcard.yuv") + " -o " + Path("card.png")).status, 0);
  EXPECT_GT(Read(Path("card.png")).size(), 3u);

  fs::create_directories(Path("a"));
  fs::create_directories(Path("b"));
  fs::copy_file(Sample("testcard.yuv"), Path("a/x.yuv"));
  fs::copy_file(Sample("busy.yuv"), Path("b/x.yuv"));
  const Result shared =
      Quill("decode " + Path("a/x.yuv") + " " + Path("b/x.yuv") + " -d " + Path("out"));
  EXPECT_EQ(shared.status, 2);
  EXPECT_NE(shared.err.find(Path("a/x.yuv") + " and " + Path("b/x.yuv") +
                            " would both be written to " + Path("out/x.png")),
            std::string::npos)
      << shared.err;
  EXPECT_FALSE(fs::exists(Path("out")));
  // Walked as folders, each keeps its name: no clash.
  const Result walked = Quill("decode -r " + Path("a") + " " + Path("b") + " -d " + Path("out"));
  EXPECT_EQ(walked.status, 0) << walked.err;
  EXPECT_TRUE(fs::exists(Path("out/a/x.png")));
  EXPECT_TRUE(fs::exists(Path("out/b/x.png")));
}

TEST_F(Cli, StaleTemporariesOfKilledRunsAreRemoved) {
  fs::create_directories(Path("out"));
  // No process has a number above 4194304 (the kernel's limit).
  const std::string own = ".quill-" + std::to_string(::getpid()) + "-abcdef";
  const std::string names[] = {".quill-4194305-abcdef", ".quill-4194305-ghijkl", own,
                               ".quill-abcdef"};
  for (const auto& n : names) Write("out/" + n, {'x'});
  for (const auto& n : {names[0], names[2], names[3]})
    Shell("touch -d '2 hours ago' " + Path("out/" + n));
  const Result r = Quill("decode " + Sample("testcard.yuv") + " -d " + Path("out"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "quill: " + Path("out/.quill-4194305-abcdef") +
                       ": removed, a temporary that process 4194305 left over an hour ago\n");
  // Kept: a recent one, one whose process runs, one not named as ours.
  auto left = Leftovers("out");
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected = {names[1], own, names[3], "testcard.png"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
}

TEST_F(Cli, BadPathsAndOptionsFailWithoutAborting) {
  fs::create_directories(Path("folder"));
  Write("file", {'x'});
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"smooth " + Path("folder") + " " + Path("s.png"), 1, "folder: is a folder"},
      {"encode " + Path("folder") + " -o " + Path("f.yuv"), 1, "folder: is a folder (give -r"},
      {"decode " + Sample("testcard.yuv") + " -d " + Path("file"), 1, "file: is not a folder"},
      {"decode " + Sample("testcard.yuv") + " -d " + Path("file/sub"), 1,
       "file/sub: cannot be created: Not a directory"},
      {"encode " + Sample("testcard.bmp") + " -d " + Path("file"), 1, "file: is not a folder"},
      {"decode " + Sample("testcard.yuv") + " -j 0", 2,
       "quill: --jobs: Value 0 not in range 1 to 4096"},
      {"decode " + Sample("testcard.yuv") + " --png-level 13", 2, "quill: --png-level"},
      {"decode " + Sample("testcard.yuv") + " --sync often", 2, "quill: --sync"},
      {"decode - -d " + Path("out"), 2, "standard input needs -o"},
      {"decode " + Sample("testcard.yuv") + " -o ''", 2, "--output: is empty; it must name a file"},
      {"encode " + Sample("testcard.bmp") + " -d ''", 2, "--dir: is empty; it must name a folder"},
      {"decode - - -o " + Path("x.png"), 2, "standard input (-) can be read once"},
      {"decode - --size 640x480 --field2 - -o " + Path("x.png"), 2, "can be read once"},
      {"decode " + Sample("testcard.yuv") + " --json -o -", 2, "--json and -o -"},
      {"decode --json /dev/stdin", 2, "standard input, a device or a pipe writes there"},
      {"decode " + Sample("testcard.yuv") + " -o " + Path("x.png") + " --format bmp", 2,
       "does not match"},
      {"frobnicate " + Sample("testcard.yuv"), 2, "quill: unknown subcommand 'frobnicate'"},
      {"decode /dev/stdin /dev/zero", 2,
       "/dev/stdin and /dev/zero would both be written to standard output; give -d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Quill(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST_F(Cli, JsonReportsParseWhateverTheFileNames) {
  // Quote, backslash, newline, tab, a control character, bytes not UTF-8.
  const std::string odd =
      "a\"b\\c\nd\te\x01"
      "f\xff\xfe.yuv";
  fs::copy_file(Sample("testcard.yuv"), Path(odd));
  Write("noise.yuv", NoiseFrame());
  const std::string files = "'" + Path(odd) + "' " + Path("noise.yuv") + " " + Path("none.yuv");
  // Each report is one JSON array; the check prints its keys' values.
  const std::string check =
      " | python3 -c 'import json,sys; d=json.load(sys.stdin); "
      "print(len(d), [sorted(e) for e in d][0], [e.get(\"damaged\") for e in d])'";
  struct Case {
    std::string args, expected;
  };
  const Case cases[] = {
      {"info --json " + files,
       "3 ['bitstream_end', 'clear_of_tag', 'damaged', 'file', 'frame_sum', 'kind', 'luma_end', "
       "'overrunning_blocks', 'problems', 'quality_step', 'tag', 'unmatched_codes'] "
       "[False, True, None]"},
      {"decode --json " + files + " -d " + Path("out"),
       "3 ['damaged', 'input', 'output', 'problems', 'quality_step', 'written'] "
       "[False, True, None]"},
      {"encode --json " + Sample("testcard.bmp") + " " + Path("noise.yuv") + " -d " + Path("out"),
       "2 ['damaged', 'input', 'output', 'problems', 'quality_step', 'written'] [False, None]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Shell(std::string(QUILL_CLI) + " " + c.args + check);
    EXPECT_EQ(r.out, c.expected + "\n") << r.err;
  }
  const Result name =
      Shell(std::string(QUILL_CLI) + " info --json " + Path("noise.yuv") +
            " | python3 -c 'import json,sys; print(json.load(sys.stdin)[0][\"file\"])'");
  EXPECT_EQ(name.out, Path("noise.yuv") + "\n");
}

TEST_F(Cli, InfoSummarisesOnceAndWritesBytesAlike) {
  Write("noise.yuv", NoiseFrame());
  Write("short.yuv", std::vector<char>(10));
  // A frame whose bytes sum to 0x05: a byte past its bitstream changed.
  auto low = Read(Sample("testcard.yuv"));
  int sum = 0;
  for (const char b : low) sum += static_cast<unsigned char>(b);
  low[24000] = static_cast<char>(static_cast<unsigned char>(low[24000]) + 0x05 - sum % 256);
  Write("low.yuv", low);
  const Result r = Quill("info " + Path("low.yuv") + " " + Path("noise.yuv") + " " +
                         Path("short.yuv") + " " + Path("missing.yuv"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("frame sum 0x05, ok"), std::string::npos) << r.out;
  EXPECT_TRUE(r.err.ends_with("quill: 2 of 4 inputs failed, 1 damaged\n")) << r.err;
  EXPECT_EQ(r.err.find("frames damaged"), std::string::npos) << r.err;
}

TEST_F(Cli, DamagedFramesWarnOrFailWithStrict) {
  Write("noise.yuv", NoiseFrame());
  const Result warned = Quill("decode " + Path("noise.yuv") + " -o " + Path("a.png"));
  EXPECT_EQ(warned.status, 0);
  EXPECT_NE(warned.err.find("noise.yuv: warning: damaged ("), std::string::npos) << warned.err;
  EXPECT_TRUE(fs::exists(Path("a.png")));
  // -q silences the progress only: damage is still told.
  const Result quiet = Quill("decode -q " + Path("noise.yuv") + " -o " + Path("b.png"));
  EXPECT_EQ(quiet.status, 0);
  EXPECT_NE(quiet.err.find("noise.yuv: warning: damaged ("), std::string::npos) << quiet.err;
  const Result strict =
      Quill("decode --strict " + Path("noise.yuv") + " " + Sample("busy.yuv") + " -d " + Path("s"));
  EXPECT_EQ(strict.status, 1);
  EXPECT_NE(strict.err.find("noise.yuv: is damaged ("), std::string::npos) << strict.err;
  EXPECT_NE(strict.err.find("1 of 2 inputs failed"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("s/noise.png")));
  EXPECT_TRUE(fs::exists(Path("s/busy.png")));
  // The second field of a 640x480 picture is checked as inputs are; its
  // failure fails the picture, which is the one input.
  Write("short.yuv", std::vector<char>(10));
  struct Case {
    std::string options, field2;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"", Path("noise.yuv"), 0, "quill: " + Path("noise.yuv") + ": warning: damaged ("},
      {"--strict", Path("noise.yuv"), 1,
       "its second field " + Path("noise.yuv") + " failed (is damaged ("},
      {"", Path("short.yuv"), 1,
       "busy.yuv: not decoded: its second field " + Path("short.yuv") +
           " failed (is 10 bytes; a frame is"},
      {"--strict", Path("short.yuv"), 1, "quill: 1 of 1 input failed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options + " " + c.field2);
    const Result r = Quill("decode " + c.options + " --size 640x480 " + Sample("busy.yuv") +
                           " --field2 " + c.field2 + " -o " + Path("tall.png"));
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // And in the picture's JSON entry: its damage, or why it failed.
  const Result damaged = Quill("decode --json --size 640x480 " + Sample("busy.yuv") + " --field2 " +
                               Path("noise.yuv") + " -o " + Path("tall.png"));
  EXPECT_NE(
      damaged.out.find("\"damaged\": true, \"problems\": [\"second field " + Path("noise.yuv")),
      std::string::npos)
      << damaged.out;
  const Result failed = Quill("decode --json --size 640x480 " + Sample("busy.yuv") + " --field2 " +
                              Path("short.yuv") + " -o " + Path("tall.png"));
  EXPECT_NE(failed.out.find("failed (is 10 bytes;"), std::string::npos) << failed.out;
}

TEST_F(Cli, ProgressOnATerminalOnlyAndClearedBeforeOtherLines) {
  const std::string inputs = Links("busy.yuv", 60);
  const std::string batch = " -j 1 --sync none" + inputs + " -d " + Path("out");
  const std::string run = "decode -v" + batch;
  // In a pipe: no progress at all.
  const Result piped = Quill(run);
  ASSERT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err.find('\r'), std::string::npos);
  // On a terminal (script gives the command one): progress lines, each
  // cleared before a note; -q leaves nothing.
  const Result tty = Shell("script -qefc '" + std::string(QUILL_CLI) + " " + run + "' /dev/null");
  ASSERT_EQ(tty.status, 0) << tty.err;
  EXPECT_NE(tty.out.find("/60] "), std::string::npos) << "no progress drawn";
  // Finished work counts before its output is in place (and noted).
  EXPECT_LT(tty.out.find("/60] "), tty.out.find(" -> ")) << tty.out;
  std::size_t from = 0;
  for (std::size_t nl; (nl = tty.out.find('\n', from)) != std::string::npos; from = nl + 1) {
    std::string line = tty.out.substr(from, nl - from);
    const std::size_t clear = line.rfind("\r\033[K");
    if (clear != std::string::npos) line = line.substr(clear + 4);
    EXPECT_EQ(line.find("ETA"), std::string::npos) << "a line ran into the progress: " << line;
  }
  // By default: the progress line and nothing else.
  const Result plain =
      Shell("script -qefc '" + std::string(QUILL_CLI) + " decode" + batch + "' /dev/null");
  EXPECT_NE(plain.out.find("/60] "), std::string::npos);
  EXPECT_EQ(plain.out.find(" -> "), std::string::npos) << plain.out;
  const Result quiet =
      Shell("script -qefc '" + std::string(QUILL_CLI) + " -q decode" + batch + "' /dev/null");
  EXPECT_EQ(quiet.out, "");
}

TEST_F(Cli, AGoneReaderEndsTheRunAsSigpipeWouldWithoutTemporaries) {
  const std::string inputs = Links("busy.yuv", 1000);
  for (const std::string& args : {"info" + inputs, "decode -q --json -j 1" + inputs + " -d out"}) {
    SCOPED_TRACE(args.substr(0, 20));
    const Result r = Shell("cd " + Path("") + " && { " + QUILL_CLI + " " + args +
                           "; echo $? > status; } | head -c 10 >/dev/null");
    EXPECT_EQ(Read(Path("status")), (std::vector<char>{'1', '4', '1', '\n'}));
    EXPECT_EQ(r.err, "");
  }
  for (const auto& name : Leftovers("out")) EXPECT_NE(name[0], '.') << name;
}

TEST_F(Cli, InterruptedBatchesLeaveNoTemporaries) {
  const std::string batch = "decode -q -j 1" + Links("busy.yuv", 130) + " -d " + Path("out");
  struct Case {
    std::string before, args, signal;
    std::vector<std::string> statuses;
    int outputs;  // -1: any number
  };
  const Case cases[] = {
      // Interrupted (143), or done before the signal came (0).
      {"", batch, "TERM", {"143", "0"}, -1},
      // Ignored by the parent (a background job ignores INT; nohup HUP).
      {"", batch, "INT", {"0"}, 130},
      {"nohup ", batch, "HUP", {"0"}, 130},
      // A stream that never ends (the shell holds the pipe open) is left at
      // once; the outputs finished more than a second before are kept.
      {"exec 3<>" + Path("pipe") + "; ",
       "decode -q -j 1 " + Path("in/0.yuv") + " " + Path("in/1.yuv") + " " + Path("pipe") + " -d " +
           Path("out"),
       "TERM",
       {"143"},
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before + c.signal);
    fs::remove_all(Path("out"));
    ::mkfifo(Path("pipe").c_str(), 0600);
    const auto start = std::chrono::steady_clock::now();
    const Result r =
        Shell(c.before + QUILL_CLI + " " + c.args + " & pid=$!; for i in $(seq 1000); do ls " +
              Path("out") + "/*.png >/dev/null 2>&1 && break; sleep 0.01; done; kill -" + c.signal +
              " $pid; wait $pid; echo $?");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_NE(std::find(c.statuses.begin(), c.statuses.end(), r.out.substr(0, r.out.size() - 1)),
              c.statuses.end())
        << r.out << r.err;
    const auto names = Leftovers("out");
    for (const auto& name : names) EXPECT_NE(name[0], '.') << name;
    if (c.outputs >= 0) {
      EXPECT_EQ(names.size(), static_cast<std::size_t>(c.outputs));
    }
  }
}

}  // namespace
