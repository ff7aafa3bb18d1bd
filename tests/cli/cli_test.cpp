// End-to-end tests of the `quill` binary: round trips, every error path
// with its message and exit status, `info --json`, atomic outputs, batches.
#include "cli_fixture.h"

namespace {

using namespace quill_cli_test;
namespace fs = std::filesystem;

TEST_F(Cli, RoundTripsThroughPngAndBmp) {
  const Result enc = Quill(Sample("testcard.bmp") + " -o " + Path("card.yuv"));
  EXPECT_EQ(enc.status, 2);  // no subcommand: usage error
  ASSERT_EQ(Quill("encode " + Sample("testcard.bmp") + " -o " + Path("card.yuv")).status, 0);
  EXPECT_EQ(Read(Path("card.yuv")), Read(Sample("testcard.yuv")));
  // The busy sample needs several coarsenings: its frame, bytes left behind
  // by the failed attempts included, is the one encoded when it was made.
  ASSERT_EQ(Quill("encode " + Sample("busy.bmp") + " -o " + Path("busy.yuv")).status, 0);
  EXPECT_EQ(Read(Path("busy.yuv")), Read(Sample("busy.yuv")));
  for (const char* ext : {"png", "bmp", "ppm"}) {
    SCOPED_TRACE(ext);
    const std::string picture = Path(std::string("card.") + ext);
    const Result dec = Quill("decode " + Path("card.yuv") + " -o " + picture);
    ASSERT_EQ(dec.status, 0) << dec.err;
    const Result again =
        Quill("encode -v " + picture + " -o " + Path(std::string("again-") + ext + ".yuv"));
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("quality step"), std::string::npos);
    EXPECT_EQ(again.out, "");
  }
  EXPECT_EQ(Read(Path("card.bmp")).size(), 230454u);
  EXPECT_EQ(Read(Path("card.ppm")).size(), 15u + 230400u);  // "P6\n320 240\n255\n"
  // The same pixels came back from every format.
  EXPECT_EQ(Read(Path("again-png.yuv")), Read(Path("again-bmp.yuv")));
  EXPECT_EQ(Read(Path("again-ppm.yuv")), Read(Path("again-bmp.yuv")));
  // 640x480 pictures are halved first; the sample test card at 640x480 gives a frame.
  EXPECT_EQ(Quill("encode " + Sample("testcard640.bmp") + " -o " + Path("large.yuv")).status, 0);
  ASSERT_EQ(Quill("decode " + Sample("testcard.yuv") + " --size 640x480 --sharpen --field2 " +
                  Sample("busy.yuv") + " -o " + Path("tall.bmp"))
                .status,
            0);
  EXPECT_EQ(Read(Path("tall.bmp")).size(), 921654u);
  // A second field implies the size.
  ASSERT_EQ(Quill("decode " + Sample("testcard.yuv") + " --sharpen --field2 " + Sample("busy.yuv") +
                  " -o " + Path("implied.bmp"))
                .status,
            0);
  EXPECT_EQ(Read(Path("implied.bmp")), Read(Path("tall.bmp")));
}

TEST_F(Cli, PictureOperations) {
  struct Case {
    std::string args;
    std::size_t bytes;
  };
  const Case cases[] = {
      {"smooth " + Sample("testcard.bmp") + " " + Path("smooth.bmp"), 230454},
      {"sharpen " + Sample("testcard.bmp") + " " + Path("sharp.bmp"), 230454},
      {"subsample " + Sample("testcard640.bmp") + " " + Path("half.bmp"), 230454},
      {"combine " + Sample("testcard.bmp") + " " + Sample("busy.bmp") + " " + Path("both.bmp"),
       921654},
  };
  for (const auto& c : cases) {
    const Result r = Quill(c.args);
    EXPECT_EQ(r.status, 0) << c.args << "\n" << r.err;
    const auto out = c.args.substr(c.args.rfind(' ') + 1);
    EXPECT_EQ(Read(out).size(), c.bytes) << c.args;
  }
  EXPECT_NE(Read(Path("smooth.bmp")), Read(Sample("testcard.bmp")));
}

TEST_F(Cli, ErrorsNameTheFileAndTheProblem) {
  Write("short.yuv", std::vector<char>(1000, 'x'));
  Write("junk.png", std::vector<char>(500, 'j'));
  auto truncated = Read(Sample("testcard.bmp"));
  truncated.resize(5000);
  Write("truncated.bmp", truncated);
  ASSERT_EQ(Quill("subsample " + Sample("testcard640.bmp") + " " + Path("small.bmp")).status, 0);
  fs::copy_file(Sample("testcard.yuv"), Path("refused.yuv"));
  {
    std::fstream f(Path("refused.yuv"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(1);
    f.put(static_cast<char>(127));  // a tagged frame of quality step 127
  }
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"decode " + Path("short.yuv"), 1,
       "short.yuv: is 1000 bytes; a frame is exactly 24576 bytes"},
      {"decode " + Path("missing.yuv"), 1, "missing.yuv: cannot be read"},
      {"decode /dev/zero", 1, "/dev/zero: is more than 24576 bytes; a frame is exactly"},
      {"encode /dev/zero -o " + Path("z.yuv"), 1,
       "/dev/zero: is not a picture (BMP, PNG, PPM, PGM, PAM or JPEG)"},
      {"info /proc/version", 1, "/proc/version: is "},  // read, though it says it is empty
      {"info \"$(printf 'new\\nline.yuv')\"", 1, "new\\x0Aline.yuv: cannot be read"},
      {"info " + Sample("testcard.yuv") + " >/dev/full", 1,
       "standard output: write error: No space left on device"},
      {"decode " + Path("refused.yuv") + " -o " + Path("r.png"), 1,
       "quality step 127 is out of range"},
      {"encode " + Path("junk.png") + " -o " + Path("j.yuv"), 1, "junk.png: is not a picture"},
      {"encode " + Path("truncated.bmp") + " -o " + Path("t.yuv"), 1,
       "truncated.bmp: is truncated"},
      {"encode " + Sample("testcard640.bmp") + " " + Path("truncated.bmp") + " -d " +
           Path("frames"),
       1, "1 of 2 inputs failed"},
      {"combine " + Path("small.bmp") + " " + Sample("testcard640.bmp") + " " + Path("c.png"), 1,
       "is 640x480; fields of 320x240 are combined"},
      {"subsample " + Sample("testcard.bmp") + " " + Path("s.png"), 1,
       "is 320x240; subsampling takes 640x480"},
      {"smooth " + Sample("testcard.bmp") + " " + Sample("testcard.bmp"), 2, "is also an input"},
      {"encode " + Path("small.bmp") + " -o " + Path("small.bmp"), 2, "not a picture"},
      {"encode " + Path("small.bmp") + " -o " + Path("frame.png"), 2,
       "frame.png: encode writes a frame, not a picture (name it .yuv)"},
      {"encode " + Path("short.yuv"), 1, "short.yuv: is not a picture"},
      {"decode " + Sample("testcard.yuv") + " -o " + Path("out.jpg"), 2,
       "must end in .png, .bmp or .ppm"},
      {"decode " + Sample("testcard.yuv") + " " + Sample("busy.yuv") + " -o " + Path("x.png"), 2,
       "-o takes one input"},
      {"decode " + Sample("testcard.yuv") + " --size 100x100", 2, "100x100"},
      {"decode " + Sample("testcard.yuv") + " --size 320x240 --field2 " + Sample("busy.yuv"), 2,
       "--field2 makes a 640x480 picture; it does not go with --size 320x240"},
      {"frobnicate", 2, "subcommand"},
      {"", 2, "Usage: quill [OPTIONS] [SUBCOMMAND]"},
      {"decode " + Sample("testcard.yuv") + " -o /dev/full", 1,
       "quill: /dev/full: cannot be written: No space left on device"},
      {"decode " + Sample("testcard.yuv") + " -o - >/dev/full", 1,
       "quill: standard output: cannot be written: No space left on device"},
      {"smooth " + Sample("testcard.bmp") + " /dev/full", 1,
       "quill: /dev/full: cannot be written: No space left on device"},
      {"-v", 2, "quill: a subcommand is required"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Quill(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // The good picture of the failed batch was still encoded.
  EXPECT_EQ(Read(Path("frames/testcard640.yuv")).size(), 24576u);
}

TEST_F(Cli, MissingOutputFolderLeavesNothingBehind) {
  const Result missing =
      Quill("decode " + Sample("testcard.yuv") + " -o " + Path("no/such/folder/card.png"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot write into"), std::string::npos) << missing.err;
  EXPECT_TRUE(Leftovers().empty());
}

// Skipped where the tests run as root, who can write into any folder.
TEST_F(Cli, ReadOnlyOutputFolderLeavesNothingBehind) {
  fs::create_directories(Path("locked"));
  fs::permissions(Path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(Path("locked").c_str(), W_OK) == 0)
    GTEST_SKIP() << "running as a user who can write anywhere";
  const Result r = Quill("decode " + Sample("testcard.yuv") + " -o " + Path("locked/card.png"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write into"), std::string::npos) << r.err;
  EXPECT_TRUE(Leftovers("locked").empty());
}

TEST_F(Cli, SuccessfulWritesLeaveOnlyTheOutput) {
  const Result r =
      Quill("decode " + Sample("testcard.yuv") + " -d " + Path("out") + " --format bmp");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Leftovers("out"), std::vector<std::string>{"testcard.bmp"});
  // The longest name a folder takes (255 bytes) works too.
  const std::string longest = std::string(251, 'n') + ".png";
  const Result named = Quill("decode " + Sample("testcard.yuv") + " -o " + Path("out/" + longest));
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(Leftovers("out").size(), 2u);
}

TEST_F(Cli, InfoReportsEveryFrameAsJson) {
  std::vector<char> damaged(24576);
  for (std::size_t i = 0; i < damaged.size(); ++i) damaged[i] = static_cast<char>((i * 7919) >> 3);
  damaged[1] = 3;
  damaged[24575] = 'Z';
  Write("damaged.yuv", damaged);
  const Result r = Quill("info --json " + Sample("testcard.yuv") + " " + Sample("legacy.yuv") +
                         " " + Sample("busy.yuv") + " " + Path("damaged.yuv"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("1 of 4 frames damaged"), std::string::npos) << r.err;
  // One object per line between the brackets.
  std::vector<std::string> objects;
  std::size_t start = 0;
  while ((start = r.out.find('{', start)) != std::string::npos) {
    const std::size_t end = r.out.find('}', start);
    objects.push_back(r.out.substr(start, end - start + 1));
    start = end;
  }
  ASSERT_EQ(objects.size(), 4u) << r.out;
  EXPECT_EQ(r.out.front(), '[');
  auto field = [](const std::string& object, const std::string& name) {
    const std::size_t at = object.find("\"" + name + "\": ");
    if (at == std::string::npos) return std::string("?");
    const std::size_t from = at + name.size() + 4;
    return object.substr(from, object.find_first_of(",}", from) - from);
  };
  EXPECT_EQ(field(objects[0], "kind"), "\"tagged\"");
  EXPECT_EQ(field(objects[0], "quality_step"), "0");
  EXPECT_EQ(field(objects[0], "damaged"), "false");
  EXPECT_EQ(field(objects[1], "kind"), "\"legacy\"");
  EXPECT_EQ(field(objects[1], "bitstream_end"), field(objects[0], "bitstream_end"));
  EXPECT_NE(field(objects[2], "quality_step"), "0");
  EXPECT_EQ(field(objects[2], "unmatched_codes"), "0");
  EXPECT_EQ(field(objects[3], "damaged"), "true");
  EXPECT_GT(std::stoi(field(objects[0], "bitstream_end")), 1000);
  EXPECT_LE(std::stoi(field(objects[0], "bitstream_end")), 24573);
}

TEST_F(Cli, HelpVersionAndQuiet) {
  EXPECT_EQ(Quill("--version").status, 0);
  // The vector level from the environment: named in --version, an unknown
  // name refused before any work.
  const Result plain = Quill("--version", "QUILL32_VECTOR_LEVEL=plain ");
  EXPECT_NE(plain.out.find("\nvector level: plain\n"), std::string::npos) << plain.out;
  const Result unknown = Quill("info " + Sample("testcard.yuv"), "QUILL32_VECTOR_LEVEL=fast ");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("QUILL32_VECTOR_LEVEL=fast: no such vector level"), std::string::npos);
  EXPECT_EQ(unknown.out, "");
  // Quiet by default: -q and -v before or after the subcommand.
  for (const std::string& args :
       {"-q decode " + Sample("testcard.yuv") + " -o " + Path("a.png"),
        "decode " + Sample("testcard.yuv") + " -o " + Path("b.png") + " -q",
        "decode " + Sample("testcard.yuv") + " " + Sample("busy.yuv") + " -d " + Path("c"),
        "encode " + Sample("testcard.bmp") + " -o " + Path("c.yuv"),
        "smooth " + Sample("testcard.bmp") + " " + Path("c.png")}) {
    const Result quiet = Quill(args);
    EXPECT_EQ(quiet.status, 0) << args;
    EXPECT_EQ(quiet.err, "") << args;
  }
  for (const char* sub :
       {"decode", "encode", "info", "smooth", "sharpen", "subsample", "combine"}) {
    const Result r = Quill(std::string(sub) + " --help");
    EXPECT_EQ(r.status, 0) << sub;
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << sub;
    EXPECT_NE(r.out.find("-q,--quiet"), std::string::npos) << sub;
    EXPECT_NE(r.out.find("-v,--verbose"), std::string::npos) << sub;
  }
  struct Case {
    std::string args, line;
  };
  const Case verbose[] = {
      {"-v decode " + Sample("testcard.yuv") + " -o " + Path("d.png"),
       Sample("testcard.yuv") + " -> " + Path("d.png") + "\n"},
      {"encode -v " + Sample("testcard.bmp") + " -o " + Path("d.yuv"),
       Sample("testcard.bmp") + " -> " + Path("d.yuv") + ": quality step 0\n"},
      {"combine -v " + Sample("testcard.bmp") + " " + Sample("busy.bmp") + " " + Path("d.bmp"),
       Sample("testcard.bmp") + " + " + Sample("busy.bmp") + " -> " + Path("d.bmp") + "\n"},
      // Too many jobs are lowered, with a note (4 per processor).
      {"decode -j 4096 " + Sample("testcard.yuv") + " -o " + Path("e.png"),
       "quill: note: -j 4096 lowered to " + std::to_string(4 * ::sysconf(_SC_NPROCESSORS_ONLN)) +
           " (4 per processor; more only cost memory)\n"},
  };
  for (const auto& c : verbose) {
    const Result r = Quill(c.args);
    EXPECT_EQ(r.status, 0) << c.args;
    EXPECT_EQ(r.err, c.line);
  }
}

}  // namespace
