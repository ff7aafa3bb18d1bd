#include "decode/frame_format.h"

namespace quill::format {
const double kToneCurve[512] = {
#include "decode/tone_curve_table.inc"
};
}  // namespace quill::format
