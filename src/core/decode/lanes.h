// Lane operations shared by the vector DCTs, written once for every register
// width. QUILL_LANES(Name, Vec, prefix) defines a traits struct over the
// intrinsics _mm*, _mm256* or _mm512*: a file defines its struct inside the
// region compiled for that instruction set, and the templates below (and
// the transforms built on them) take it as S.
//
// Unpacks, multiply-adds and packs work within 128-bit parts at every width,
// so a register of 1, 2 or 4 such parts carries 1, 2 or 4 blocks through
// the same sequence, each transformed exactly as one block on its own.
#pragma once

#include <cstdint>

#define QUILL_LANES(Name, Vec, prefix)                                      \
  struct Name {                                                             \
    using V = Vec;                                                          \
    static V Add16(V a, V b) { return prefix##_add_epi16(a, b); }           \
    static V Sub16(V a, V b) { return prefix##_sub_epi16(a, b); }           \
    static V Min16(V a, V b) { return prefix##_min_epi16(a, b); }           \
    static V Max16(V a, V b) { return prefix##_max_epi16(a, b); }           \
    static V Add32(V a, V b) { return prefix##_add_epi32(a, b); }           \
    static V Sub32(V a, V b) { return prefix##_sub_epi32(a, b); }           \
    static V MulAdd16(V a, V k) { return prefix##_madd_epi16(a, k); }       \
    static V UnpackLo16(V a, V b) { return prefix##_unpacklo_epi16(a, b); } \
    static V UnpackHi16(V a, V b) { return prefix##_unpackhi_epi16(a, b); } \
    static V UnpackLo32(V a, V b) { return prefix##_unpacklo_epi32(a, b); } \
    static V UnpackHi32(V a, V b) { return prefix##_unpackhi_epi32(a, b); } \
    static V UnpackLo64(V a, V b) { return prefix##_unpacklo_epi64(a, b); } \
    static V UnpackHi64(V a, V b) { return prefix##_unpackhi_epi64(a, b); } \
    static V Packs32(V a, V b) { return prefix##_packs_epi32(a, b); }       \
    static V Set16(std::int16_t x) { return prefix##_set1_epi16(x); }       \
    static V Set32(std::int32_t x) { return prefix##_set1_epi32(x); }       \
    template <int n>                                                        \
    static V Slli16(V a) {                                                  \
      return prefix##_slli_epi16(a, n);                                     \
    }                                                                       \
    template <int n>                                                        \
    static V Srai16(V a) {                                                  \
      return prefix##_srai_epi16(a, n);                                     \
    }                                                                       \
    template <int n>                                                        \
    static V Slli32(V a) {                                                  \
      return prefix##_slli_epi32(a, n);                                     \
    }                                                                       \
    template <int n>                                                        \
    static V Srai32(V a) {                                                  \
      return prefix##_srai_epi32(a, n);                                     \
    }                                                                       \
    template <int n>                                                        \
    static V Srli32(V a) {                                                  \
      return prefix##_srli_epi32(a, n);                                     \
    }                                                                       \
  }

namespace quill::lanes {
namespace {

template <typename S>
struct Wide {  // the low and high 32-bit halves of 16-bit lanes
  typename S::V lo, hi;
};

template <typename S>
inline Wide<S> Add(Wide<S> a, Wide<S> b) {
  return {S::Add32(a.lo, b.lo), S::Add32(a.hi, b.hi)};
}

template <typename S>
inline Wide<S> Sub(Wide<S> a, Wide<S> b) {
  return {S::Sub32(a.lo, b.lo), S::Sub32(a.hi, b.hi)};
}

template <typename S>
inline Wide<S> AddEach(Wide<S> a, typename S::V b) {
  return {S::Add32(a.lo, b), S::Add32(a.hi, b)};
}

// (a, b) repeated: the multiply-add with it on interleaved (x, y) gives a*x + b*y.
template <typename S>
inline typename S::V Pair(std::int16_t a, std::int16_t b) {
  return S::Set32(static_cast<std::int32_t>(static_cast<std::uint16_t>(a) |
                                            (static_cast<std::uint32_t>(b) << 16)));
}

// a*k0 + b*k1 per lane in 32 bits, with k = Pair(k0, k1).
template <typename S>
inline Wide<S> MulAdd(typename S::V a, typename S::V b, typename S::V k) {
  return {S::MulAdd16(S::UnpackLo16(a, b), k), S::MulAdd16(S::UnpackHi16(a, b), k)};
}

// a*kab0 + b*kab1 + c*kcd0 + d*kcd1 per lane in 32 bits.
template <typename S>
inline Wide<S> MulAdd(typename S::V a, typename S::V b, typename S::V kab, typename S::V c,
                      typename S::V d, typename S::V kcd) {
  return Add<S>(MulAdd<S>(a, b, kab), MulAdd<S>(c, d, kcd));
}

// (v + 2^(shift-1)) >> shift, packed to 16 bits with saturation; for
// results known to fit 16 bits.
template <typename S, int kShift>
inline typename S::V DescalePack(Wide<S> v) {
  const typename S::V bias = S::Set32(1 << (kShift - 1));
  return S::Packs32(S::template Srai32<kShift>(S::Add32(v.lo, bias)),
                    S::template Srai32<kShift>(S::Add32(v.hi, bias)));
}

// v >> shift with the bias already added, packed keeping the low 16 bits
// of every result (a 16-bit store's wrap). Below a shift of 16 the result's
// bits are moved to the top 16 and brought back with the sign; from a shift
// of 17 on, the shifted 32-bit value already fits 16 bits.
template <typename S, int kShift>
inline typename S::V ShiftWrapPack(Wide<S> v) {
  if constexpr (kShift >= 17) {
    return S::Packs32(S::template Srai32<kShift>(v.lo), S::template Srai32<kShift>(v.hi));
  } else {
    static_assert(kShift < 16);
    return S::Packs32(S::template Srai32<16>(S::template Slli32<16 - kShift>(v.lo)),
                      S::template Srai32<16>(S::template Slli32<16 - kShift>(v.hi)));
  }
}

// Rows to columns within every 128-bit part.
template <typename S>
[[gnu::always_inline]] inline void TransposeParts(typename S::V v[8]) {
  typename S::V a[8], b[8];
  for (int i = 0; i < 8; i += 2) {
    a[i] = S::UnpackLo16(v[i], v[i + 1]);
    a[i + 1] = S::UnpackHi16(v[i], v[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    b[i] = S::UnpackLo32(a[i], a[i + 2]);
    b[i + 1] = S::UnpackHi32(a[i], a[i + 2]);
    b[i + 2] = S::UnpackLo32(a[i + 1], a[i + 3]);
    b[i + 3] = S::UnpackHi32(a[i + 1], a[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    v[2 * i] = S::UnpackLo64(b[i], b[i + 4]);
    v[2 * i + 1] = S::UnpackHi64(b[i], b[i + 4]);
  }
}

}  // namespace
}  // namespace quill::lanes
