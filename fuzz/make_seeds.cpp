// Writes the seed inputs of the fuzz targets into the folders given:
// make_seeds ENCODE_DIR FRAME_DIR. Encoder inputs are compact picture
// descriptions (picture_maker.cpp) from flat to noise at full amplitude;
// frames are those pictures encoded (tagged, quality steps from 0 up as the
// pictures get busier), the same bitstreams as legacy frames and at other
// quality steps, and damaged copies: a flipped bit early in the luma, a
// stretch of 0xFF80 (codes that match nothing), zeros where a block's
// coefficients run past position 63, a bitstream that runs into the tag,
// a truncated input.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "quill32.h"

namespace {

using Input = std::vector<std::uint8_t>;

void Write(const std::string& path, const Input& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "%s: cannot write\n", path.c_str());
    std::exit(1);
  }
}

// Descriptions: 4 bytes of the frame block's prior content, a background
// colour, then shapes (kind, x, y, w, h, colour, the kind's own bytes).
const std::pair<const char*, Input> kPictures[] = {
    {"flat", {0, 0, 0, 0, 90, 140, 200}},
    {"gradient", {1, 2, 3, 4, 0, 0, 0, 1, 0, 0, 159, 119, 10, 20, 30, 12, 6, 3, 0, 8, 16}},
    {"stripes", {0, 0, 0, 0, 20, 20, 20, 2, 10, 10, 100, 80, 250, 250, 250, 0, 0, 0, 3, 2}},
    {"checker", {0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 159, 119, 255, 255, 255, 0, 0, 0, 0, 3}},
    {"patch", {9, 9,   9, 9,   128, 128, 128, 4,   30, 20, 60, 40, 0,  0,  0,  4,  4,
               0, 255, 0, 255, 0,   255, 10,  200, 30, 40, 50, 60, 70, 80, 90, 100}},
    {"mixed", {0,   0,  0,   0,  60, 60,  60,  0,  0,         0,  80, 60, 200, 30, 30,  1,
               80,  0,  80,  60, 0,  0,   0,   16, -16 & 255, 5,  2,  5,  2,   0,  60,  40,
               50,  90, 255, 0,  0,  200, 200, 6,  2,         3,  0,  70, 159, 49, 128, 128,
               128, 1,  2,   3,  4,  40,  4,   0,  0,         40, 60, 7,  7,   7,  8,   8}},
    {"noise-low", {0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 159, 119, 128, 100, 80, 7, 7, 7, 7, 12}},
    {"noise-mid", {0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 159, 119, 128, 128, 128, 1, 2, 3, 4, 60}},
    {"noise-full", {0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 159, 119, 128, 128, 128, 5, 6, 7, 8, 255}},
    {"noise-wrap", {0, 0, 0, 0, 0, 0, 0, 0x83, 0, 0, 159, 119, 250, 5, 128, 9, 9, 9, 9, 200}},
    {"gradient-wrap",
     {0, 0, 0, 0, 0, 0, 0, 0x81, 0, 0, 159, 119, 0, 0, 0, 127, 127, 127, 127, 127, 127}},
};

Input Encode(const Input& description) {
  HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, 230440), frame = GlobalAlloc(GMEM_MOVEABLE, 24576);
  quill::fuzz::Bytes in(description.data(), description.size());
  std::uint8_t prior[4];
  in.Fill(prior, 4);
  quill::fuzz::Bytes(prior, 4).Fill(static_cast<std::uint8_t*>(GlobalLock(frame)), 24576);
  quill::fuzz::MakePicture(in, static_cast<std::uint8_t*>(GlobalLock(dib)));
  Input out;
  if (CompressBmp(frame, dib) == 1) {
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(frame));
    out.assign(bytes, bytes + 24576);
  }
  GlobalFree(dib);
  GlobalFree(frame);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds ENCODE_DIR FRAME_DIR\n");
    return 1;
  }
  const std::string encode_dir = argv[1], frame_dir = argv[2];
  for (const auto& [name, description] : kPictures) {
    Write(encode_dir + "/" + name, description);
    Input frame = Encode(description);
    if (frame.empty()) continue;
    const std::string base = frame_dir + "/" + name + "-step" + std::to_string(frame[1]);
    Write(base, frame);
    Input legacy = frame;
    legacy[24575] = 0;
    Write(base + "-legacy", legacy);
  }
  // One busy frame in every variant.
  const Input busy = Encode(kPictures[5].second);
  const std::string base = frame_dir + "/mixed";
  for (int step : {0, 1, 30, 126, 127, 128}) {
    Input at = busy;
    at[1] = static_cast<std::uint8_t>(step);
    Write(base + "-as-step" + std::to_string(step), at);
    at[24575] = 'Y';
    Write(base + "-as-step" + std::to_string(step) + "-Y", at);
  }
  Input flipped = busy;
  flipped[40] ^= 0x10;
  Write(base + "-flipped-bit", flipped);
  Input unmatched = busy;
  for (int i = 600; i < 640; i += 2) {
    unmatched[i] = 0xFF;
    unmatched[i + 1] = 0x80;
  }
  Write(base + "-unmatched-codes", unmatched);
  Input overrun = busy;
  for (int i = 1000; i < 1100; ++i) overrun[i] = 0;
  Write(base + "-overrunning-blocks", overrun);
  Input into_tag = busy;
  for (int i = 12000; i < 24575; ++i) into_tag[i] = 0x00;  // every block runs to position 63
  Write(base + "-into-tag", into_tag);
  Write(base + "-truncated", Input(busy.begin(), busy.begin() + 5000));
  return 0;
}
