// The DCTs' 13-bit fixed-point constants, FIX(x) = round(x * 2^13), shared by
// the plain transforms of both directions, and the weights the vector passes
// multiply out of them (one pmaddwd per pair of inputs).
#pragma once

#include <cstdint>

namespace quill::dct {

constexpr std::int32_t kFix0_298631336 = 2446;
constexpr std::int32_t kFix0_390180644 = 3196;
constexpr std::int32_t kFix0_541196100 = 4433;
constexpr std::int32_t kFix0_765366865 = 6270;
constexpr std::int32_t kFix0_899976223 = 7373;
constexpr std::int32_t kFix1_175875602 = 9633;
constexpr std::int32_t kFix1_501321110 = 12299;
constexpr std::int32_t kFix1_847759065 = 15137;
constexpr std::int32_t kFix1_961570560 = 16069;
constexpr std::int32_t kFix2_053119869 = 16819;
constexpr std::int32_t kFix2_562915447 = 20995;
constexpr std::int32_t kFix3_072711026 = 25172;
constexpr std::int32_t kOne = 8192;  // FIX(1.0)

// The even part's rotation: z = (a + b) * FIX(0.541...), then a + FIX(0.765...)
// and - FIX(1.847...) on its two inputs.
constexpr std::int32_t kEvenSum = kFix0_541196100;
constexpr std::int32_t kEvenPlus = kFix0_541196100 + kFix0_765366865;   // 10,703
constexpr std::int32_t kEvenMinus = kFix0_541196100 - kFix1_847759065;  // -10,704

// The odd part multiplied out: with z5 = (z3 + z4) * FIX(1.175...) common to
// every output, each output's own input takes its multiplier plus z5's and
// the two -FIX terms of the sums it is in; the others take z5's and one of
// them. E.g. the forward output 7: t4 * (FIX(0.298) - FIX(0.899) + FIX(1.175)
// - FIX(1.961)) + t5 * FIX(1.175) + t6 * (FIX(1.175) - FIX(1.961)) + t7 *
// (FIX(1.175) - FIX(0.899)).
constexpr std::int32_t kOddCommon = kFix1_175875602;                           // 9,633
constexpr std::int32_t kOddLessA = kFix1_175875602 - kFix0_899976223;          // 2,260
constexpr std::int32_t kOddLessB = kFix1_175875602 - kFix2_562915447;          // -11,362
constexpr std::int32_t kOddLessC = kFix1_175875602 - kFix1_961570560;          // -6,436
constexpr std::int32_t kOddLessD = kFix1_175875602 - kFix0_390180644;          // 6,437
constexpr std::int32_t kOdd0 = kFix0_298631336 + kOddLessA - kFix1_961570560;  // -11,363
constexpr std::int32_t kOdd1 = kFix2_053119869 + kOddLessB - kFix0_390180644;  // 2,261
constexpr std::int32_t kOdd2 = kFix3_072711026 + kOddLessB - kFix1_961570560;  // -2,259
constexpr std::int32_t kOdd3 = kFix1_501321110 + kOddLessA - kFix0_390180644;  // 11,363
static_assert(kEvenPlus == 10703 && kEvenMinus == -10704);
static_assert(kOddLessA == 2260 && kOddLessB == -11362 && kOddLessC == -6436 && kOddLessD == 6437);
static_assert(kOdd0 == -11363 && kOdd1 == 2261 && kOdd2 == -2259 && kOdd3 == 11363);

}  // namespace quill::dct
