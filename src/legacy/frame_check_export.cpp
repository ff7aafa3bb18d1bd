// QuillCheckFrame, the Linux library's frame check (the DLLs keep to their
// fifteen entry points): the core's check in the legacy header's terms.
#if !defined(_WIN32)
#include <cstring>

#include "decode/frame_check.h"
#include "format/frame_format.h"
#include "quill32_check.h"

extern "C" int QuillCheckFrame(const void* frame, size_t bytes, QuillFrameInfo* info) {
  if (info == nullptr) return 0;
  std::memset(info, 0, sizeof *info);
  if (frame == nullptr || bytes != static_cast<size_t>(quill::format::kFrameBytes)) return 0;
  const quill::decode::FrameReport r =
      quill::decode::CheckFrame(static_cast<const std::uint8_t*>(frame));
  info->tagged = r.tagged ? 1 : 0;
  info->tag = r.tag;
  info->quality_step = r.quality_step;
  info->step_in_range = r.step_in_range ? 1 : 0;
  info->luma_end = r.luma_end;
  info->bitstream_end = r.bitstream_end;
  info->unmatched_codes = r.unmatched_codes;
  info->overrunning_blocks = r.overrunning_blocks;
  info->clear_of_tag = r.clear_of_tag ? 1 : 0;
  info->frame_sum = r.frame_sum;
  info->damage = r.damage;
  return 1;
}
#endif
