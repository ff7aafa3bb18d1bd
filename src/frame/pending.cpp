// Exports still to be built answer with their failure result.
#include "quill32.h"

extern "C" {
int QUILL32_CALL COMBINEMCU(const HGLOBAL*, const HGLOBAL*, HGLOBAL*) {
  return 0;
}
int QUILL32_CALL CombineImage(HGLOBAL, HGLOBAL, HGLOBAL) {
  return 0;
}
int QUILL32_CALL EXPANDMCU(const HGLOBAL*, HGLOBAL*) {
  return 0;
}
int QUILL32_CALL FilterImage(HGLOBAL) {
  return 0;
}
void QUILL32_CALL SHARPMCU(HGLOBAL, int, int) {}
int QUILL32_CALL SharperImage(HGLOBAL) {
  return 0;
}
int QUILL32_CALL SubSample(HGLOBAL, HGLOBAL, float) {
  return 0;
}
}
