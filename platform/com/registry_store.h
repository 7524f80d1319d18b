// Internal: the registry as a tree in memory, its file format, and the locked read-modify-write
// cycle every change goes through.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "registry.h"

namespace velmora::registry {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct Value {
    std::string name; // as written; empty for the default value
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct Key {
    std::string name; // as written
    std::map<std::string, Value, NoCaseLess> values;
    std::map<std::string, std::unique_ptr<Key>, NoCaseLess> subkeys;

    Key* Find(const std::string& path); // null if absent; "" is this key
    Key* Create(const std::string& path, bool* created = nullptr);
    bool Erase(const std::string& path); // the key and everything below it
};

// The whole registry: the top-level keys are the roots ("HKEY_CLASSES_ROOT", ...).
struct Hive {
    Key top;
};

// The text form. Parse reports the first problem as "file:line: message".
std::string Format(const Hive& hive);
bool Parse(const std::string& text, const std::string& fileName, Hive* hive, std::string* error);

// Runs f on the current registry under the file's lock; when f answers ERROR_SUCCESS and write
// is set, the result replaces the file atomically. A file that does not parse is left alone
// and ERROR_BADDB answered, with the reason in LastError().
LSTATUS Transact(bool write, const std::function<LSTATUS(Hive&)>& f);

void SetLastError(std::string message);

// Root name of a predefined handle, or empty.
std::string RootName(HKEY root);

} // namespace velmora::registry
