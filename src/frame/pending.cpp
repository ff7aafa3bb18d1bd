// Exports still to be built answer with their failure result.
#include "quill32.h"

extern "C" {
int QUILL32_CALL CombineImage(HGLOBAL, HGLOBAL, HGLOBAL) {
  return 0;
}
int QUILL32_CALL FilterImage(HGLOBAL) {
  return 0;
}
int QUILL32_CALL SharperImage(HGLOBAL) {
  return 0;
}
int QUILL32_CALL SubSample(HGLOBAL, HGLOBAL, float) {
  return 0;
}
}
