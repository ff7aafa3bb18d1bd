// The DLL's entry point: the library builds no state at load and keeps none
// per thread, so every reason is answered with success.
#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
#endif
