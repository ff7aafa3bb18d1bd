#include "reports.h"

#include <cstdio>
#include <sstream>

#include "json.h"

namespace quill::cli {
namespace {

// Bytes are written one way everywhere: 0x and two upper-case digits.
std::string Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

std::string ProblemsJson(const FrameReport& r) {
  std::string text = "[";
  for (std::size_t i = 0; i < r.problems.size(); ++i)
    text += (i ? ", " : "") + JsonString(r.problems[i]);
  return text + "]";
}

}  // namespace

std::string Problems(const FrameReport& r) {
  std::string text;
  for (const auto& p : r.problems) text += (text.empty() ? "" : "; ") + p;
  return text;
}

std::string InfoJson(const std::string& file, const FrameReport& r) {
  std::ostringstream os;
  os << "{\"file\": " << JsonString(file) << ", \"kind\": \"" << (r.tagged ? "tagged" : "legacy")
     << "\", \"tag\": " << int{r.tag} << ", \"quality_step\": " << r.quality_step
     << ", \"luma_end\": " << r.luma_end << ", \"bitstream_end\": " << r.bitstream_end
     << ", \"unmatched_codes\": " << r.unmatched_codes
     << ", \"overrunning_blocks\": " << r.overrunning_blocks
     << ", \"clear_of_tag\": " << (r.clear_of_tag ? "true" : "false")
     << ", \"frame_sum\": " << int{r.frame_sum}
     << ", \"damaged\": " << (r.damaged() ? "true" : "false")
     << ", \"problems\": " << ProblemsJson(r) << "}";
  return os.str();
}

std::string InfoText(const std::string& file, const FrameReport& r) {
  char tag[16];
  if (r.tag >= 0x20 && r.tag < 0x7F) {
    std::snprintf(tag, sizeof tag, "\"%c\"", r.tag);
  } else {
    std::snprintf(tag, sizeof tag, "%s", Hex(r.tag).c_str());
  }
  std::ostringstream os;
  os << file << ": " << (r.tagged ? "tagged " : "legacy ") << tag << ", quality step "
     << r.quality_step << ", bitstream ends at " << r.bitstream_end << ", frame sum "
     << Hex(r.frame_sum);
  if (r.damaged()) {
    os << ", DAMAGED: " << Problems(r);
  } else {
    os << ", ok";
  }
  return os.str();
}

std::string WriteJson(const std::string& input, const std::string& output, bool written,
                      const std::string& error, const FrameReport* frame) {
  std::string text = "{\"input\": " + JsonString(input) + ", \"output\": " + JsonString(output) +
                     ", \"written\": " + (written ? "true" : "false");
  if (frame != nullptr) {
    text += ", \"quality_step\": " + std::to_string(frame->quality_step) +
            ", \"damaged\": " + (frame->damaged() ? "true" : "false") +
            ", \"problems\": " + ProblemsJson(*frame);
  }
  if (!error.empty()) text += ", \"error\": " + JsonString(error);
  return text + "}";
}

}  // namespace quill::cli
