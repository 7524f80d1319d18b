// The Win32 registry calls over the registry store. An opened key is its root and path.
#include <cstring>
#include <new>

#include "registry_store.h"

using namespace velmora::registry;

struct HKEY__ {
    std::string root;
    std::string path; // below the root; empty for the root itself
};

namespace {

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// A name the text form can carry: a line break would end its line in the file, and the file would
// no longer parse (and a registry file that does not parse is never written again).
bool Writable(const std::string& name) {
    return name.find('\n') == std::string::npos;
}

// The full path of parent\subKey below the hive's top, or false for an unknown handle.
bool Resolve(HKEY parent, LPCSTR subKey, std::string* root, std::string* path) {
    if (!parent)
        return false;
    std::string r = RootName(parent);
    std::string p;
    if (r.empty()) {
        r = parent->root;
        p = parent->path;
    }
    if (subKey && *subKey) {
        std::string s = subKey;
        while (!s.empty() && s.front() == '\\')
            s.erase(0, 1);
        while (!s.empty() && s.back() == '\\')
            s.pop_back();
        if (!s.empty())
            p = p.empty() ? s : p + '\\' + s;
    }
    *root = r;
    *path = p;
    return true;
}

// A subkey path whose every name is one the file can hold: not empty ("a\\b"), no line break.
bool ValidSubKey(LPCSTR subKey) {
    if (!subKey)
        return true;
    std::string s = subKey;
    while (!s.empty() && s.front() == '\\')
        s.erase(0, 1);
    while (!s.empty() && s.back() == '\\')
        s.pop_back();
    return s.find("\\\\") == std::string::npos && Writable(s);
}

std::string Full(const std::string& root, const std::string& path) {
    return path.empty() ? root : root + '\\' + path;
}

HKEY NewHandle(const std::string& root, const std::string& path) {
    return new (std::nothrow) HKEY__{root, path};
}

} // namespace

LSTATUS RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*,
                        HKEY* result, DWORD* disposition) {
    std::string root, path;
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!ValidSubKey(subKey))
        return ERROR_INVALID_PARAMETER;
    if (!Resolve(parent, subKey, &root, &path))
        return ERROR_INVALID_HANDLE;
    bool created = false;
    LSTATUS r = Transact(true, [&](Hive& h) {
        if (RootName(parent).empty() && !h.top.Find(Full(parent->root, parent->path)))
            return ERROR_FILE_NOT_FOUND; // the parent went away
        h.top.Create(Full(root, path), &created);
        return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS)
        return r;
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(root, path);
    return *result ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, REGSAM, HKEY* result) {
    std::string root, path;
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!Resolve(parent, subKey, &root, &path))
        return ERROR_INVALID_HANDLE;
    LSTATUS r = Transact(false, [&](Hive& h) {
        // A root always exists, even before anything was written below it.
        return path.empty() || h.top.Find(Full(root, path)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (r != ERROR_SUCCESS)
        return r;
    *result = NewHandle(root, path);
    return *result ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

LSTATUS RegCloseKey(HKEY key) {
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (RootName(key).empty())
        delete key;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    std::string root, path;
    if (!Resolve(key, nullptr, &root, &path))
        return ERROR_INVALID_HANDLE;
    if (size && !data)
        return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && size != 4)
        return ERROR_INVALID_PARAMETER;
    if (name && !Writable(name))
        return ERROR_INVALID_PARAMETER;
    return Transact(true, [&](Hive& h) {
        Key* k = path.empty() ? h.top.Create(root) : h.top.Find(Full(root, path));
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        Value v;
        v.name = name ? name : "";
        v.type = type;
        v.data.assign(data, data + size);
        if (type == REG_SZ && (v.data.empty() || v.data.back() != 0))
            v.data.push_back(0);
        k->values[v.name] = std::move(v);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    std::string root, path;
    if (!Resolve(key, nullptr, &root, &path))
        return ERROR_INVALID_HANDLE;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    return Transact(false, [&](Hive& h) {
        Key* k = h.top.Find(Full(root, path));
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        auto it = k->values.find(name ? name : "");
        if (it == k->values.end())
            return ERROR_FILE_NOT_FOUND;
        const Value& v = it->second;
        if (type)
            *type = v.type;
        const DWORD needed = static_cast<DWORD>(v.data.size());
        LSTATUS r = ERROR_SUCCESS;
        if (data) {
            if (*size < needed)
                r = ERROR_MORE_DATA;
            else if (needed) // an empty value ("hex:") has no bytes to copy, nor a pointer to them
                std::memcpy(data, v.data.data(), needed);
        }
        if (size)
            *size = needed;
        return r;
    });
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) {
    std::string root, path;
    if (!Resolve(key, nullptr, &root, &path))
        return ERROR_INVALID_HANDLE;
    return Transact(true, [&](Hive& h) {
        Key* k = h.top.Find(Full(root, path));
        return k && k->values.erase(name ? name : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LSTATUS RegDeleteKeyA(HKEY parent, LPCSTR subKey) {
    std::string root, path;
    if (!subKey || !*subKey)
        return ERROR_INVALID_PARAMETER;
    if (!Resolve(parent, subKey, &root, &path))
        return ERROR_INVALID_HANDLE;
    return Transact(true, [&](Hive& h) {
        Key* k = h.top.Find(Full(root, path));
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        if (!k->subkeys.empty())
            return ERROR_ACCESS_DENIED;
        h.top.Erase(Full(root, path));
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTreeA(HKEY parent, LPCSTR subKey) {
    std::string root, path;
    if (!Resolve(parent, subKey, &root, &path))
        return ERROR_INVALID_HANDLE;
    return Transact(true, [&](Hive& h) {
        Key* k = h.top.Find(Full(root, path));
        if (!k)
            return ERROR_FILE_NOT_FOUND;
        if (!subKey || !*subKey) {
            k->values.clear();
            k->subkeys.clear();
        } else {
            h.top.Erase(Full(root, path));
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameSize, DWORD*, LPSTR, DWORD*,
                      FILETIME*) {
    std::string root, path;
    if (!name || !nameSize)
        return ERROR_INVALID_PARAMETER;
    if (!Resolve(key, nullptr, &root, &path))
        return ERROR_INVALID_HANDLE;
    return Transact(false, [&](Hive& h) {
        Key* k = h.top.Find(Full(root, path));
        if (!k)
            return path.empty() ? ERROR_NO_MORE_ITEMS : ERROR_FILE_NOT_FOUND;
        if (index >= k->subkeys.size())
            return ERROR_NO_MORE_ITEMS;
        auto it = std::next(k->subkeys.begin(), index);
        const std::string& n = it->second->name;
        if (*nameSize <= n.size()) {
            *nameSize = static_cast<DWORD>(n.size());
            return ERROR_MORE_DATA;
        }
        std::memcpy(name, n.c_str(), n.size() + 1);
        *nameSize = static_cast<DWORD>(n.size());
        return ERROR_SUCCESS;
    });
}

namespace velmora::registry {

bool ReadString(HKEY root, const std::string& path, const std::string& name, std::string* out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    bool ok =
        RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ;
    std::string s(size, '\0');
    ok = ok && RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(s.data()), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!ok)
        return false;
    s.resize(std::strlen(s.c_str()));
    *out = s;
    return true;
}

} // namespace velmora::registry
