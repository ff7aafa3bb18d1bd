// Netpbm pictures: PGM and PPM, plain (P2, P3) and binary (P5, P6), and PAM
// (P7) of depth 1 to 4 (grey, grey and alpha, RGB, RGB and alpha). 16-bit
// samples (maxval 65535) give their top byte, as a 16-bit PNG's do; other
// maxvals are scaled to 8 bits as (v * 255 + maxval / 2) / maxval, which
// leaves maxval 255 as it is.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "picture_readers.h"

namespace quill::cli {
namespace {

class Header {
 public:
  explicit Header(const std::vector<std::uint8_t>& file) : file_(file) {}

  // Skips white space and comments (# to the end of the line).
  void SkipSpace() {
    while (at_ < file_.size()) {
      if (file_[at_] == '#') {
        while (at_ < file_.size() && file_[at_] != '\n') ++at_;
      } else if (std::isspace(file_[at_])) {
        ++at_;
      } else {
        return;
      }
    }
  }
  // A decimal number after white space; false when there is none or it
  // passes `most`.
  bool Number(long most, long& value) {
    SkipSpace();
    value = 0;
    const std::size_t start = at_;
    while (at_ < file_.size() && std::isdigit(file_[at_])) {
      value = value * 10 + (file_[at_++] - '0');
      if (value > most) return false;
    }
    return at_ > start;
  }
  // A word of a PAM header line.
  std::string Word() {
    while (at_ < file_.size() && (file_[at_] == ' ' || file_[at_] == '\t')) ++at_;
    std::string word;
    while (at_ < file_.size() && !std::isspace(file_[at_])) word += static_cast<char>(file_[at_++]);
    return word;
  }
  void SkipLine() {
    while (at_ < file_.size() && file_[at_] != '\n') ++at_;
    if (at_ < file_.size()) ++at_;
  }
  // Steps over the one white-space byte that ends the header.
  bool EndOfHeader() {
    if (at_ >= file_.size() || !std::isspace(file_[at_])) return false;
    ++at_;
    return true;
  }
  std::size_t at() const { return at_; }
  void set_at(std::size_t at) { at_ = at; }

 private:
  const std::vector<std::uint8_t>& file_;
  std::size_t at_ = 2;  // past the magic number
};

struct Layout {
  long width = 0, height = 0, depth = 0, maxval = 0;
  bool plain = false;
};

bool ReadPamHeader(Header& h, Layout& l, std::string& error) {
  long* fields[] = {&l.width, &l.height, &l.depth, &l.maxval};
  const char* names[] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
  for (;;) {
    h.SkipSpace();
    const std::string key = h.Word();
    if (key.empty()) {
      error = "is a damaged PAM (its header has no ENDHDR)";
      return false;
    }
    if (key == "ENDHDR") {
      h.SkipLine();
      return true;
    }
    for (int i = 0; i < 4; ++i) {
      if (key == names[i] && !h.Number(65535, *fields[i])) {
        error = std::string("is a damaged PAM (its ") + names[i] + " is not a number in range)";
        return false;
      }
    }
    h.SkipLine();  // TUPLTYPE and unknown lines: the depth says what a tuple is
  }
}

bool ReadLayout(const std::vector<std::uint8_t>& file, Header& h, Layout& l, std::string& error) {
  const char kind = static_cast<char>(file[1]);
  if (kind == '7') {
    if (!ReadPamHeader(h, l, error)) return false;
  } else {
    l.plain = kind == '2' || kind == '3';
    l.depth = kind == '2' || kind == '5' ? 1 : 3;
    if (!h.Number(65535, l.width) || !h.Number(65535, l.height) || !h.Number(65535, l.maxval) ||
        (!l.plain && !h.EndOfHeader())) {
      error = "is a damaged PNM (its header is not width, height and maxval)";
      return false;
    }
  }
  if (l.width < 1 || l.height < 1 || l.maxval < 1 || l.depth < 1 || l.depth > 4) {
    error = "has a PNM header out of range (size, depth 1 to 4, maxval 1 to 65535)";
    return false;
  }
  if (l.width > kMaxSide || l.height > kMaxSide) {
    error = "is larger than 16384 pixels on a side";
    return false;
  }
  return true;
}

// The samples of the picture, scaled to 8 bits; false when the file ends
// early or a sample passes maxval.
bool ReadSamples(const std::vector<std::uint8_t>& file, Header& h, const Layout& l,
                 std::vector<std::uint8_t>& out, std::string& error) {
  const std::size_t count = static_cast<std::size_t>(l.width * l.height * l.depth);
  out.resize(count);
  const int bytes = l.maxval > 255 ? 2 : 1;
  if (!l.plain && file.size() - h.at() < count * bytes) {
    error = "is truncated: its pixel rows are missing";
    return false;
  }
  const std::uint8_t* data = file.data() + h.at();
  for (std::size_t i = 0; i < count; ++i) {
    long v = 0;
    if (l.plain) {
      if (!h.Number(65535, v)) {
        error = "is truncated or damaged: a sample is missing";
        return false;
      }
    } else {
      v = bytes == 1 ? data[i] : data[2 * i] << 8 | data[2 * i + 1];
    }
    if (v > l.maxval) {
      error = "has a sample above its maxval " + std::to_string(l.maxval);
      return false;
    }
    out[i] = static_cast<std::uint8_t>(l.maxval == 65535 ? v >> 8 : (v * 255 + l.maxval / 2) / l.maxval);
  }
  return true;
}

}  // namespace

bool IsPnm(const std::uint8_t* head, std::size_t size) {
  return size >= 3 && head[0] == 'P' && std::strchr("23567", head[1]) != nullptr && head[1] != 0 &&
         std::isspace(head[2]);
}

bool ReadPnm(const std::vector<std::uint8_t>& file, RgbImage& image, std::string& error) {
  Header h(file);
  Layout l;
  std::vector<std::uint8_t> samples;
  if (!ReadLayout(file, h, l, error) || !ReadSamples(file, h, l, samples, error)) return false;
  image.width = static_cast<int>(l.width);
  image.height = static_cast<int>(l.height);
  const std::size_t count = static_cast<std::size_t>(l.width * l.height);
  image.rgb.resize(3 * count);
  const bool alpha = l.depth == 2 || l.depth == 4;
  const int colours = alpha ? static_cast<int>(l.depth) - 1 : static_cast<int>(l.depth);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = &samples[i * static_cast<std::size_t>(l.depth)];
    for (int c = 0; c < 3; ++c) {
      const std::uint8_t v = p[colours == 1 ? 0 : c];
      image.rgb[3 * i + c] = alpha ? CompositeOnBlack(v, p[l.depth - 1]) : v;
    }
  }
  return true;
}

std::vector<std::uint8_t> PpmFile(const RgbImage& image) {
  char header[32];
  const int n = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", image.width, image.height);
  std::vector<std::uint8_t> file(header, header + n);
  file.insert(file.end(), image.rgb.begin(), image.rgb.end());
  return file;
}

}  // namespace quill::cli
