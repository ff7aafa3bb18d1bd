// ReadYUV and Save2BMP.
#include "host.h"
#include "quill32.h"

namespace quill::test {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

struct ReadCase {
  const char* name;
  long file_bytes;  // -1: no file
  std::size_t block_bytes;
  int expected;
};

TEST(ReadYUV, ReturnsTheFileLengthOrRefuses) {
  const ReadCase cases[] = {
      {"frame", 24576, 24576, 24576},
      {"frame into larger block", 24576, 30000, 24576},
      {"64 KiB + frame is longer than the block", 65536 + 24576, 24576, 0},
      {"64 KiB + frame into a block that takes it", 65536 + 24576, 65536 + 24576, 65536 + 24576},
      {"exactly 64 KiB", 65536, 65536, 65536},
      {"empty", 0, 24576, 0},
      {"missing", -1, 24576, 0},
      {"block one byte short", 24576, 24575, 0},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("in.yuv");
    std::filesystem::remove(path);
    const auto content = Pattern(c.file_bytes < 0 ? 0 : static_cast<std::size_t>(c.file_bytes));
    if (c.file_bytes >= 0) WriteFile(path, content);
    HostBlock block(c.block_bytes);
    EXPECT_EQ(ReadYUV(block.get(), path.c_str()), c.expected);
    const auto bytes = block.Bytes();
    if (c.expected > 0) {
      EXPECT_TRUE(std::equal(content.begin(), content.end(), bytes.begin()));
    } else {
      EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), static_cast<long>(bytes.size()));
    }
    EXPECT_EQ(platform::LockCount(block.get()), 0);
  }
}

TEST(ReadYUV, RefusesBadHandlesAndPaths) {
  ScratchDir dir;
  const std::string path = dir.File("in.yuv");
  WriteFile(path, Pattern(100));
  EXPECT_EQ(ReadYUV(nullptr, path.c_str()), 0);
  EXPECT_EQ(ReadYUV(reinterpret_cast<HGLOBAL>(77), path.c_str()), 0);
  HostBlock block(100);
  EXPECT_EQ(ReadYUV(block.get(), nullptr), 0);
  EXPECT_EQ(ReadYUV(block.get(), dir.File("").c_str()), 0);  // a folder
  EXPECT_EQ(ReadYUV(block.get(), path.c_str()), 100);
}

std::vector<std::uint8_t> ExpectedHeader(std::uint32_t length) {
  const std::uint32_t size = length + 14;
  return {'B',
          'M',
          static_cast<std::uint8_t>(size),
          static_cast<std::uint8_t>(size >> 8),
          static_cast<std::uint8_t>(size >> 16),
          static_cast<std::uint8_t>(size >> 24),
          0,
          0,
          0,
          0,
          54,
          0,
          0,
          0};
}

struct SaveCase {
  std::uint32_t length;
  std::vector<UINT> pieces;  // byte counts of the writes after the 14-byte header
};

TEST(Save2BMP, WritesHeaderAndBlockInPiecesOf65534) {
  const SaveCase cases[] = {
      {0, {}},
      {230440, {65534, 65534, 65534, 33838}},
      {65534, {65534}},
      {65535, {65534, 1}},
      {921640,
       {65534, 65534, 65534, 65534, 65534, 65534, 65534, 65534, 65534, 65534, 65534, 65534, 65534,
        65534, 4164}},
  };
  ScratchDir dir;
  const auto content = Pattern(921640);
  HostBlock dib(content.size());
  dib.Fill(content);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string path = dir.File("out.bmp");
    std::vector<UINT> writes;
    platform::RecordWriteSizes(&writes);
    EXPECT_EQ(Save2BMP(dib.get(), c.length, path.c_str()), 1);
    platform::RecordWriteSizes(nullptr);
    std::vector<UINT> expected_writes{14};
    expected_writes.insert(expected_writes.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(writes, expected_writes);
    const auto file = ReadFile(path);
    ASSERT_EQ(file.size(), c.length + 14u);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 14), ExpectedHeader(c.length));
    EXPECT_TRUE(std::equal(file.begin() + 14, file.end(), content.begin()));
  }
  EXPECT_EQ(platform::LockCount(dib.get()), 0);
}

TEST(Save2BMP, TruncatesALongerFile) {
  ScratchDir dir;
  const std::string path = dir.File("out.bmp");
  WriteFile(path, Pattern(500000));
  HostBlock dib(1000);
  EXPECT_EQ(Save2BMP(dib.get(), 1000, path.c_str()), 1);
  EXPECT_EQ(std::filesystem::file_size(path), 1014u);
}

TEST(Save2BMP, ReportsEveryFailure) {
  ScratchDir dir;
  HostBlock dib(1000);
  // The folder does not exist: nothing can be created.
  EXPECT_EQ(Save2BMP(dib.get(), 1000, dir.File("no/such/out.bmp").c_str()), 0);
  // A length beyond the block is refused before a file is created.
  const std::string path = dir.File("too-long.bmp");
  EXPECT_EQ(Save2BMP(dib.get(), 1001, path.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Save2BMP(nullptr, 0, path.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  // A device that takes no bytes: the writes fall short.
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(Save2BMP(dib.get(), 1000, "/dev/full"), 0);
  }
  EXPECT_EQ(platform::LockCount(dib.get()), 0);
}

}  // namespace
}  // namespace quill::test
