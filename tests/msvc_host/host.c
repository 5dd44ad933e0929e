/* Converts in.gif into out.bmp in the current folder through BREVLO32, after
 * reading BREVLOInfo's text, and ends with BREVLO32's result code (1000 when
 * the text cannot be had). Built with no C runtime, so it starts at start. */
#include <brevlo.h>

__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

void __cdecl start(void) {
  char text[256];
  int32_t length = BREVLOInfo(0, 0);
  if (length <= 0 || length > (int32_t)sizeof text || BREVLOInfo(text, length) != 0)
    ExitProcess(1000);
  ExitProcess((unsigned int)BREVLO32("in.gif", "out.bmp"));
}
