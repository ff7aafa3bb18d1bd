// The legacy layer's one process-wide session: what the exports' contract
// makes process-wide. Calls of the exports must not overlap (as ever), except
// that the default level may be read and set from any thread.
//  - the colour state that LPYUV2DIB leaves for TRANSMCU2BMP (all zero at
//    load);
//  - the default vector level, which QuillSetVectorLevel sets (atomic);
//  - the encoder whose scratch CompressBmp works in;
//  - the mapping of the codec's error texts to MessageBoxA.
#pragma once

#include "colour_state.h"
#include "encode/encoder.h"
#include "simd/kernels.h"

namespace quill::legacy {

ColourState& SessionColours();
encode::Encoder& SessionEncoder();
// The kernels of the default level.
const simd::Kernels& SessionKernels();
simd::Level SessionLevel();
simd::Level SetSessionLevel(simd::Level wanted);
// Shows a codec error as the exports always have: a message box with no
// owner and one OK button.
void ShowMessage(const char* text, const char* caption);

}  // namespace quill::legacy
