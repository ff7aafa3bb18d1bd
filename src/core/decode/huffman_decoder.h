// Huffman block decoder: reads one block's 64 quantized coefficients (zigzag
// order) from a frame's bitstream.
#pragma once

#include <cstdint>

#include "format/frame_format.h"

namespace quill::decode {

// Bit reader contract: `bits` is the first byte of the bitstream, `limit` the
// number of bytes that may be read from it (24,574 in a frame: offsets 2 to
// 24,575). `position` counts the bits consumed; bits are taken from a byte
// most significant first. Past the limit the reader delivers zero bits and
// never touches memory, so a damaged frame decodes to the end without
// leaving the frame; `position` keeps counting.
// `dc_pred` is the predictor of the section being read: the previous
// block's DC (0 at the start of each section).
struct BitReader {
  const std::uint8_t* bits;
  std::uint32_t limit;
  std::uint32_t position;
  std::int32_t dc_pred;
};

// The block's DC coefficient, from its difference to reader.dc_pred (which it
// updates). An unmatched code consumes 11 bits and gives 0, predictor kept.
std::int16_t DecodeDC(BitReader& reader);

// One block: its DC (DecodeDC), then zigzag positions 1..63 (an unmatched
// code consumes 18 bits and ends the block; a block that runs to position 64
// is followed by 4 bits of EOB, which are consumed), in natural order, each
// multiplied by its step (16-bit wrap). Returns the zigzag positions that
// may hold non-zero values (bit k for position k): those up to the last one
// the block reached; the others are 0.
std::uint64_t DecodeDequantizedBlock(std::int16_t block[64], BitReader& reader,
                                     const format::QuantTable& quant);
// `count` consecutive blocks as DecodeDequantizedBlock reads them, with the
// reader kept in registers from one to the next; positions[b] for blocks[b].
void DecodeDequantizedBlocks(std::int16_t (*blocks)[64], int count, BitReader& reader,
                             const format::QuantTable& quant, std::uint64_t* positions);
// The same without the dequantizing: the quantized coefficients (as 16-bit
// values) in natural order.
void DecodeBlocks(std::int16_t (*blocks)[64], int count, BitReader& reader,
                  std::uint64_t* positions);
// What the frame check counts while it reads blocks as DecodeDequantizedBlock
// does: codes that match nothing (the DC's, and the AC code that ends the
// block) and blocks whose runs pass position 63.
struct BlockCounts {
  int unmatched_codes = 0;
  int overrunning_blocks = 0;
};
// Reads one block as DecodeDequantizedBlock does (reader.dc_pred too), counting into `counts`.
void CheckBlock(BitReader& reader, BlockCounts& counts);
// `count` consecutive blocks as CheckBlock reads them.
void CheckBlocks(BitReader& reader, int count, BlockCounts& counts);
// The rows (bit r for row r) that hold any of the zigzag positions given.
std::uint8_t RowsOfZigzag(std::uint64_t positions);

}  // namespace quill::decode
