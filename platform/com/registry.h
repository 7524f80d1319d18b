// The registry: keys and values under the usual roots, kept in a text file in the
// "Windows Registry Editor Version 5.00" format. Every change re-reads the file and replaces it
// atomically under an advisory lock, so concurrent writers in several processes lose nothing; a
// write that fails (disk full, folder not writable) or a writer that dies leaves the old file
// whole. A file this process may not write is not replaced (ERROR_ACCESS_DENIED), and a replaced
// one keeps its permissions.
// The file is $VELMORA_REGISTRY, else $XDG_DATA_HOME/velmora/registry.reg
// (~/.local/share/velmora/registry.reg).
#pragma once

#include <string>

#include "types.h"

using LSTATUS = LONG;
using REGSAM = DWORD;

struct HKEY__;
using HKEY = HKEY__*;
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002)))

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
constexpr LSTATUS ERROR_WRITE_FAULT = 29;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_BADDB = 1009;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr HRESULT HRESULT_FROM_WIN32(LSTATUS e) {
    return e <= 0 ? static_cast<HRESULT>(e)
                  : static_cast<HRESULT>((static_cast<std::uint32_t>(e) & 0xFFFF) | 0x80070000u);
}

// Keys: names compare without case; a path separates names with backslashes. An open key is a
// path, resolved against the file at every call.
LSTATUS RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options,
                        REGSAM sam, void* security, HKEY* result, DWORD* disposition);
LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM sam, HKEY* result);
LSTATUS RegCloseKey(HKEY key);
// Strings are UTF-8; the data of REG_SZ includes its terminator.
LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR name);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED if it has some), as Windows does.
LSTATUS RegDeleteKeyA(HKEY parent, LPCSTR subKey);
// Deletes a key with everything below it; a null subKey empties the key itself.
LSTATUS RegDeleteTreeA(HKEY parent, LPCSTR subKey);
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameSize, DWORD* reserved,
                      LPSTR cls, DWORD* classSize, FILETIME* lastWrite);

namespace velmora::registry {

// Where the registry lives now.
std::string FilePath();
// The message of the last failure on this thread that a plain code cannot tell, such as
// "registry.reg:12: expected ..." for a file that does not parse.
std::string LastError();

// Convenience for the platform's own callers: the default value (name empty) of a key as a
// string, or false if absent.
bool ReadString(HKEY root, const std::string& path, const std::string& name, std::string* out);

} // namespace velmora::registry
