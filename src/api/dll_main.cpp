// The DLL's load and unload entry. The library keeps no state between calls and
// needs no setup, so every notification simply reports success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
