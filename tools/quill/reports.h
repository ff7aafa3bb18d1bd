// The tool's reports of frames and outputs: the text of `info`, and the JSON
// objects of `info`, `decode` and `encode` (--json).
#pragma once

#include <string>

#include "frame_check.h"

namespace quill::cli {

// The problems of a damaged frame, joined by "; ".
std::string Problems(const FrameReport& r);
std::string InfoText(const std::string& file, const FrameReport& r);
std::string InfoJson(const std::string& file, const FrameReport& r);
// One written (or failed) output; `frame` adds its quality step and damage.
std::string WriteJson(const std::string& input, const std::string& output, bool written,
                      const std::string& error, const FrameReport* frame);

}  // namespace quill::cli
