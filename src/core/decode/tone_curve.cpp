#include "decode/tone_curve.h"

namespace quill::decode {
const double kToneCurve[512] = {
#include "decode/tone_curve_table.inc"
};
}  // namespace quill::decode
