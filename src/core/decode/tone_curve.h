// The legacy frames' tone curve: 255 * (i / 511)^(1 / 1.2) rounded to 4
// decimals, indexed by twice a stretched luma level.
#pragma once

namespace quill::decode {

extern const double kToneCurve[512];

}  // namespace quill::decode
