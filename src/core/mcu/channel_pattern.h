// The byte shuffle of ChannelByte (mcu/compose_row.h) as a 128-bit pattern,
// for the x86 renderers that interleave a row's channels by shuffles (each
// broadcasts it to every 128-bit part of its registers).
#pragma once

#include <emmintrin.h>

#include "mcu/compose_row.h"

namespace quill {

template <int o, int channel>
inline __m128i ChannelPattern() {
  return _mm_setr_epi8(
      ChannelByte(o, channel, 0), ChannelByte(o, channel, 1), ChannelByte(o, channel, 2),
      ChannelByte(o, channel, 3), ChannelByte(o, channel, 4), ChannelByte(o, channel, 5),
      ChannelByte(o, channel, 6), ChannelByte(o, channel, 7), ChannelByte(o, channel, 8),
      ChannelByte(o, channel, 9), ChannelByte(o, channel, 10), ChannelByte(o, channel, 11),
      ChannelByte(o, channel, 12), ChannelByte(o, channel, 13), ChannelByte(o, channel, 14),
      ChannelByte(o, channel, 15));
}

}  // namespace quill
