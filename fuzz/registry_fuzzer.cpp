// The registry's text form ("Windows Registry Editor Version 5.00"), which every registry call
// re-reads. The parser must refuse or accept any text without harm; what it accepts must survive
// a rewrite (the store writes the whole file back after every change): formatted and parsed
// again it is the same tree, byte for byte, and formats to the same text. Then the Win32 calls
// read the file as the platform's callers do (open, enumerate with short buffers, query values
// with short buffers), and one value is written back through RegSetValueExA, after which the file
// must still parse and hold it.
#include "fuzz_support.h"
#include "platform/com/registry_store.h"

namespace reg = velmora::registry;
using velmora::fuzz::Input;

namespace {

bool SameKey(const reg::Key& a, const reg::Key& b) {
    if (a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size())
        return false;
    for (auto i = a.values.begin(), j = b.values.begin(); i != a.values.end(); ++i, ++j)
        if (i->second.name != j->second.name || i->second.type != j->second.type ||
            i->second.data != j->second.data)
            return false;
    for (auto i = a.subkeys.begin(), j = b.subkeys.begin(); i != a.subkeys.end(); ++i, ++j)
        if (i->second->name != j->second->name || !SameKey(*i->second, *j->second))
            return false;
    return true;
}

void WriteFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f);
    FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), f) == text.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

HKEY RootHandle(const std::string& name) {
    for (HKEY h : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        if (reg::NoCaseLess{}(reg::RootName(h), name) == false &&
            reg::NoCaseLess{}(name, reg::RootName(h)) == false)
            return h;
    return nullptr;
}

struct Walker {
    int budget = 48; // calls into the registry per input

    // Reads key (at root\path) and what is below it through the Win32 calls, as the tree says.
    void Walk(HKEY root, const std::string& path, const reg::Key& key) {
        if (--budget < 0)
            return;
        HKEY h = nullptr;
        FUZZ_CHECK(RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS);
        // Subkeys in order; a buffer one short asks for more.
        DWORD index = 0;
        for (const auto& [_, sub] : key.subkeys) {
            if (--budget < 0)
                break;
            char name[512];
            const std::string& want = sub->name;
            DWORD size = static_cast<DWORD>(std::min<std::size_t>(want.size(), sizeof name));
            LSTATUS r = RegEnumKeyExA(h, index, name, &size, nullptr, nullptr, nullptr, nullptr);
            FUZZ_CHECK(r == ERROR_MORE_DATA && size == want.size());
            if (want.size() < sizeof name) {
                size = sizeof name;
                r = RegEnumKeyExA(h, index, name, &size, nullptr, nullptr, nullptr, nullptr);
                FUZZ_CHECK(r == ERROR_SUCCESS && size == want.size() &&
                           std::string(name, size) == want && name[size] == 0);
            }
            ++index;
        }
        char none[4];
        DWORD noneSize = sizeof none;
        if (index == key.subkeys.size()) // unless the budget ended the walk early
            FUZZ_CHECK(RegEnumKeyExA(h, index, none, &noneSize, nullptr, nullptr, nullptr,
                                     nullptr) == ERROR_NO_MORE_ITEMS);
        // Values: size first, then one byte short, then whole.
        for (const auto& [_, v] : key.values) {
            if (--budget < 0)
                break;
            if (v.name.find('\0') != std::string::npos)
                continue; // not reachable by a C string name
            DWORD type = 0, size = 0;
            FUZZ_CHECK(RegQueryValueExA(h, v.name.c_str(), nullptr, &type, nullptr, &size) ==
                       ERROR_SUCCESS);
            FUZZ_CHECK(type == v.type && size == v.data.size());
            std::vector<BYTE> buffer(size + 1, 0xCD);
            if (size > 0) {
                DWORD shortSize = size - 1;
                FUZZ_CHECK(RegQueryValueExA(h, v.name.c_str(), nullptr, &type, buffer.data(),
                                            &shortSize) == ERROR_MORE_DATA);
                FUZZ_CHECK(shortSize == size);
            }
            DWORD whole = size;
            FUZZ_CHECK(RegQueryValueExA(h, v.name.c_str(), nullptr, &type, buffer.data(), &whole) ==
                       ERROR_SUCCESS);
            FUZZ_CHECK(whole == size && std::equal(v.data.begin(), v.data.end(), buffer.begin()));
            FUZZ_CHECK(buffer[size] == 0xCD);
        }
        FUZZ_CHECK(RegCloseKey(h) == ERROR_SUCCESS);
        for (const auto& [_, sub] : key.subkeys)
            if (sub->name.find('\0') == std::string::npos) // C string paths cannot name it
                Walk(root, path.empty() ? sub->name : path + '\\' + sub->name, *sub);
    }
};

// The first value in the tree with its key's path below the root, or null.
const reg::Value* FirstValue(const reg::Key& key, const std::string& path, std::string* where) {
    if (!key.values.empty()) {
        *where = path;
        return &key.values.begin()->second;
    }
    for (const auto& [_, sub] : key.subkeys)
        if (sub->name.find('\0') == std::string::npos)
            if (auto* v =
                    FirstValue(*sub, path.empty() ? sub->name : path + '\\' + sub->name, where))
                return v;
    return nullptr;
}

// Bytes as a C string: a zero would end it early, so it stands for a backslash here.
std::string CString(const std::vector<BYTE>& bytes) {
    std::string s(bytes.begin(), bytes.end());
    std::replace(s.begin(), s.end(), '\0', '\\');
    return s;
}

// A value set through the API reads back as given (a string gains its terminator if it had none).
void CheckReadsBack(HKEY h, const std::string& name, DWORD type, std::vector<BYTE> want) {
    if (type == REG_SZ && (want.empty() || want.back() != 0))
        want.push_back(0);
    DWORD gotType = 0, got = static_cast<DWORD>(want.size());
    std::vector<BYTE> buffer(want.size() + 1);
    const LSTATUS r = RegQueryValueExA(h, name.c_str(), nullptr, &gotType, buffer.data(), &got);
    FUZZ_CHECK_SAY(r == ERROR_SUCCESS, "the value just set does not read: %ld %s\n",
                   static_cast<long>(r), reg::LastError().c_str());
    buffer.resize(got);
    FUZZ_CHECK(gotType == type && buffer == want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = velmora::fuzz::ScratchFolder() + "/registry.reg";
    static const bool env = ::setenv("VELMORA_REGISTRY", file.c_str(), 1) == 0;
    FUZZ_CHECK(env);

    const std::string text(reinterpret_cast<const char*>(data), size);
    reg::Hive hive;
    std::string error;
    if (!reg::Parse(text, "fuzz.reg", &hive, &error)) {
        FUZZ_CHECK(error.rfind("fuzz.reg:", 0) == 0);
        return 0;
    }

    // A rewrite keeps everything.
    const std::string formatted = reg::Format(hive);
    reg::Hive again;
    FUZZ_CHECK_SAY(reg::Parse(formatted, "formatted.reg", &again, &error),
                   "the formatted registry does not parse: %s\n%s\n", error.c_str(),
                   formatted.c_str());
    FUZZ_CHECK_SAY(SameKey(hive.top, again.top), "the registry changed in a rewrite:\n%s\n",
                   formatted.c_str());
    FUZZ_CHECK(reg::Format(again) == formatted);

    // The Win32 calls over the file as it was given.
    WriteFile(file, text);
    Walker walker;
    for (const auto& [_, root] : hive.top.subkeys) {
        HKEY h = RootHandle(root->name);
        FUZZ_CHECK(h);
        walker.Walk(h, "", *root);
    }

    // One value written back through the API, as a registration writes: the file still parses
    // and holds it.
    for (const auto& [_, root] : hive.top.subkeys) {
        std::string path;
        const reg::Value* v = FirstValue(*root, "", &path);
        if (!v || v->name.find('\0') != std::string::npos)
            continue;
        HKEY h = nullptr;
        FUZZ_CHECK(RegOpenKeyExA(RootHandle(root->name), path.c_str(), 0, KEY_WRITE, &h) ==
                   ERROR_SUCCESS);
        const LSTATUS r = RegSetValueExA(h, v->name.c_str(), 0, v->type, v->data.data(),
                                         static_cast<DWORD>(v->data.size()));
        if (v->type == REG_DWORD && v->data.size() != 4) {
            FUZZ_CHECK(r == ERROR_INVALID_PARAMETER);
        } else {
            FUZZ_CHECK_SAY(r == ERROR_SUCCESS, "RegSetValueExA: %ld %s\n", static_cast<long>(r),
                           reg::LastError().c_str());
            CheckReadsBack(h, v->name, v->type, v->data);
        }
        RegCloseKey(h);
        break;
    }

    // A key and a value of the caller's choosing (names and data from the input's last bytes):
    // whatever the calls accept they must write in a form the file reads back.
    const std::size_t tailSize = std::min<std::size_t>(size, 48);
    Input tail(data + size - tailSize, tailSize);
    constexpr DWORD kTypes[] = {REG_SZ, REG_BINARY, REG_DWORD, REG_NONE, 2, 7, 0xb, 0x10};
    const DWORD type = kTypes[tail.Byte() % std::size(kTypes)];
    const std::string sub = CString(tail.Bytes(tail.Byte() % 16));
    const std::string name = CString(tail.Bytes(tail.Byte() % 10));
    const std::vector<BYTE> bytes = tail.Bytes(tail.Byte() % 12);
    HKEY h = nullptr;
    LSTATUS r = RegCreateKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &h, nullptr);
    if (r != ERROR_SUCCESS) {
        FUZZ_CHECK(r == ERROR_INVALID_PARAMETER);
        return 0;
    }
    HKEY opened = nullptr;
    r = RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_READ, &opened);
    FUZZ_CHECK_SAY(r == ERROR_SUCCESS, "the key just created does not open: %ld %s\n",
                   static_cast<long>(r), reg::LastError().c_str());
    RegCloseKey(opened);
    r = RegSetValueExA(h, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    if (r == ERROR_SUCCESS)
        CheckReadsBack(h, name, type, bytes);
    else
        FUZZ_CHECK(r == ERROR_INVALID_PARAMETER);
    RegCloseKey(h);
    return 0;
}
