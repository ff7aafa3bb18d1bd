// The export table and the two exports that do nothing.
#include <fstream>
#include <regex>

#include "host.h"
#include "quill32.h"

namespace quill::test {
namespace {

TEST(ExportTable, NamesAndOrdinalsAreThoseHostsImport) {
  const std::vector<std::pair<std::string, int>> expected = {
      {"WEP", 1},        {"COMBINEMCU", 2},    {"CombineImage", 3}, {"CompressBmp", 4},
      {"EXPANDMCU", 5},  {"FilterImage", 6},   {"FreeMCU", 7},      {"LPYUV2DIB", 8},
      {"ReadYUV", 9},    {"SHARPMCU", 10},     {"Save2BMP", 11},    {"SharperImage", 12},
      {"SubSample", 13}, {"TRANSMCU2BMP", 14}, {"YUV2DIB", 15}};
  std::ifstream def(QUILL32_SOURCE_DIR "/include/quill32.def");
  ASSERT_TRUE(def) << "cannot open include/quill32.def";
  std::vector<std::pair<std::string, int>> actual;
  const std::regex entry(R"(^\s+(\w+)\s+@(\d+)\s*$)");
  for (std::string line; std::getline(def, line);) {
    std::smatch m;
    if (std::regex_match(line, m, entry)) actual.emplace_back(m[1], std::stoi(m[2]));
  }
  EXPECT_EQ(actual, expected);
  // Ordinals 2..15 follow the byte order of the names.
  for (std::size_t i = 2; i < actual.size(); ++i) EXPECT_LT(actual[i - 1].first, actual[i].first);
}

TEST(ExportTable, StubsAnswerTheirFixedResults) {
  for (int value : {0, 1, -1, 0x7FFFFFFF}) {
    EXPECT_EQ(WEP(value), 1);
    EXPECT_EQ(YUV2DIB(value, ~value), 0);
  }
}

}  // namespace
}  // namespace quill::test
