// Per-module string tables and the module handle of code.
#pragma once

#include <initializer_list>
#include <utility>

#include "../com/types.h"

constexpr LANGID kLangEnglishUS = 1033;

namespace velmora::win32 {

// Adds strings (UTF-8) to a module's table in one language; later entries replace earlier ones.
void AddStrings(HINSTANCE module, LANGID lang,
                std::initializer_list<std::pair<UINT, const char*>> strings);
// Drops every string of a module (when it is unloaded).
void RemoveStrings(HINSTANCE module);

// The handle of the loaded image (executable or shared object) that holds the address.
HINSTANCE ModuleFromAddress(const void* address);

} // namespace velmora::win32

// Copies string id of the module (US English if present, else any language) into buffer with a
// terminator, truncating to cchBufferMax - 1 characters. Returns the characters copied, or 0 if
// the string does not exist (buffer then holds an empty string).
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int cchBufferMax);
// As LoadStringA, in wide characters. With cchBufferMax 0, buffer is taken as a pointer to a
// pointer that receives the read-only string itself (not terminated within its length).
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int cchBufferMax);
