// Loading modules: LoadLibrary and FreeLibrary over the dynamic loader, calling the module's
// DllMain on attach and detach, as Windows does.
#pragma once

#include "../com/types.h"

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

using FARPROC = void (*)();
using DllMainProc = BOOL (*)(HINSTANCE, DWORD, void*);

// Loads the module at path (or finds it loaded) and counts one more use. The first load calls
// its DllMain with DLL_PROCESS_ATTACH; a FALSE answer unloads it again and fails the call.
HMODULE LoadLibraryA(LPCSTR path);
// Counts one use less; the last one calls DllMain with DLL_PROCESS_DETACH and unloads it.
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// The module's full path; the number of characters written without the terminator, or 0.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
BOOL DisableThreadLibraryCalls(HMODULE module);

namespace velmora::win32 {
// The reason the last LoadLibraryA on this thread failed (the loader's message).
const char* LastLoadError();
} // namespace velmora::win32
