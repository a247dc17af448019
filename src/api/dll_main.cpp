// Entry of the shared library Tarvo_64. The exported calls themselves live in the core
// (api/exports.cpp and platform/), which is linked in whole; this file only gives the
// shared library its own translation unit, and on Windows its DllMain.
#if defined(_WIN32)
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
