#include "registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

namespace velmora::registry {

namespace {

thread_local std::string t_lastError;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

int CompareNoCase(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int x = std::toupper(static_cast<unsigned char>(a[i]));
        int y = std::toupper(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Splits "A\B\C" at the first backslash.
std::pair<std::string, std::string> Head(const std::string& path) {
    auto at = path.find('\\');
    if (at == std::string::npos)
        return {path, ""};
    return {path.substr(0, at), path.substr(at + 1)};
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// REG_SZ data that the quoted form carries exactly: one terminating zero and no other, and no
// line break (the text is read line by line). Anything else is written as hex(1), byte for byte.
bool IsPlainString(const std::vector<BYTE>& data) {
    return !data.empty() && data.back() == 0 &&
           std::none_of(data.begin(), data.end() - 1,
                        [](BYTE c) { return c == 0 || c == '\n' || c == '\r'; });
}

void FormatKey(const Key& key, const std::string& path, std::ostringstream& out) {
    out << '[' << path << "]\n";
    for (const auto& [_, v] : key.values) {
        out << (v.name.empty() ? "@" : Quote(v.name)) << '=';
        if (v.type == REG_SZ && IsPlainString(v.data)) {
            out << Quote(std::string(v.data.begin(), v.data.end() - 1));
        } else if (v.type == REG_DWORD && v.data.size() == 4) {
            DWORD d;
            std::memcpy(&d, v.data.data(), 4);
            char buf[16];
            std::snprintf(buf, sizeof buf, "dword:%08x", d);
            out << buf;
        } else {
            // The type in hex, as the parser (and regedit) reads it: REG_QWORD is hex(b).
            char type[24];
            std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(v.type));
            out << (v.type == REG_BINARY ? "hex:" : type);
            for (size_t i = 0; i < v.data.size(); ++i) {
                char buf[4];
                std::snprintf(buf, sizeof buf, "%02x", v.data[i]);
                out << (i ? "," : "") << buf;
            }
        }
        out << '\n';
    }
    out << '\n';
    for (const auto& [_, sub] : key.subkeys)
        FormatKey(*sub, path + '\\' + sub->name, out);
}

bool IsRoot(const std::string& name) {
    for (const char* r : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"})
        if (CompareNoCase(name, r) == 0)
            return true;
    return false;
}

// Parses a quoted string at s[i] (which is '"'); advances i past the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string* out) {
    out->clear();
    for (++i; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out->push_back(s[++i]);
        } else if (s[i] == '"') {
            ++i;
            return true;
        } else {
            out->push_back(s[i]);
        }
    }
    return false;
}

bool ParseHexBytes(const std::string& s, std::vector<BYTE>* out) {
    std::string digits;
    for (char c : s) {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!digits.empty()) {
                if (digits.size() > 2)
                    return false;
                out->push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
                digits.clear();
            }
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else {
            return false;
        }
    }
    if (!digits.empty()) {
        if (digits.size() > 2)
            return false;
        out->push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
    }
    return true;
}

bool EndsWith(const std::string& s, char c) {
    return !s.empty() && s.back() == c;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// What a step of the parse found wrong, if anything.
using Problem = std::optional<std::string>;

std::string ExpectedHeader() {
    return "expected \"" + std::string(kHeader) + "\"";
}

// The next line, trimmed, into line; lineNo counts the lines read. Hex data may continue on the
// next lines after a trailing backslash (a line of only blanks, such as the "\r" of a CRLF
// file's empty line, trims to nothing). A byte-order mark opening the file is dropped.
bool ReadLine(std::istream& in, int* lineNo, std::string* line) {
    std::string raw;
    if (!std::getline(in, raw))
        return false;
    ++*lineNo;
    while (EndsWith(Trim(raw), '\\') && raw.find("hex") != std::string::npos) {
        std::string more;
        if (!std::getline(in, more))
            break;
        ++*lineNo;
        raw = Trim(raw);
        raw.pop_back();
        raw += Trim(more);
    }
    if (*lineNo == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
        raw.erase(0, 3);
    *line = Trim(raw);
    return true;
}

// "[path]" creates the key and makes it the one values go to; "[-path]" deletes the key with
// everything below it, and values have no key until the next key line.
Problem ReadKeyLine(const std::string& line, Hive* hive, Key** current) {
    if (line.back() != ']')
        return "a key line must end with ']'";
    std::string path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path[0] == '-';
    if (remove)
        path.erase(0, 1);
    if (path.empty() || path.back() == '\\' || path.find("\\\\") != std::string::npos)
        return "malformed key path";
    const std::string root = Head(path).first;
    if (!IsRoot(root))
        return "unknown root key \"" + root + "\"";
    if (remove) {
        hive->top.Erase(path);
        *current = nullptr;
    } else {
        *current = hive->top.Create(path);
    }
    return std::nullopt;
}

// A value's name, "@" for the default one (empty) or quoted; i ends just past it.
Problem ReadValueName(const std::string& line, size_t* i, std::string* name) {
    if (line[0] == '@') {
        *i = 1;
        return std::nullopt;
    }
    if (line[0] != '"')
        return "expected a value name";
    if (!ParseQuoted(line, *i, name))
        return "unterminated value name";
    return std::nullopt;
}

Problem DecodeString(const std::string& data, Value* v) {
    size_t j = 0;
    std::string s;
    if (!ParseQuoted(data, j, &s) || j != data.size())
        return "malformed string data";
    v->type = REG_SZ;
    v->data.assign(s.begin(), s.end());
    v->data.push_back(0);
    return std::nullopt;
}

// Exactly eight hex digits.
Problem DecodeDword(const std::string& hex, Value* v) {
    if (hex.size() != 8 || !std::all_of(hex.begin(), hex.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c));
        }))
        return "malformed dword data";
    DWORD d = static_cast<DWORD>(std::strtoul(hex.c_str(), nullptr, 16));
    v->type = REG_DWORD;
    v->data.resize(4);
    std::memcpy(v->data.data(), &d, 4);
    return std::nullopt;
}

// "hex:" (REG_BINARY) or "hex(t):" with the type t in hex, then bytes.
Problem DecodeHex(const std::string& data, Value* v) {
    const size_t colon = data.find(':');
    if (colon == std::string::npos) // "hex(1)" alone: no pointer may be formed past it
        return "malformed hex type";
    v->type = REG_BINARY;
    if (data[3] == '(') {
        char* end = nullptr;
        v->type = static_cast<DWORD>(std::strtoul(data.c_str() + 4, &end, 16));
        if (!end || *end != ')' || end + 1 != data.c_str() + colon)
            return "malformed hex type";
    }
    if (!ParseHexBytes(data.substr(colon + 1), &v->data))
        return "malformed hex data";
    return std::nullopt;
}

// The data after '=', by its type.
Problem DecodeData(const std::string& data, Value* v) {
    if (!data.empty() && data[0] == '"')
        return DecodeString(data, v);
    if (data.compare(0, 6, "dword:") == 0)
        return DecodeDword(data.substr(6), v);
    if (data.compare(0, 4, "hex:") == 0 || data.compare(0, 4, "hex(") == 0)
        return DecodeHex(data, v);
    return "unknown data type";
}

// name=data sets a value of the current key; name=- deletes it.
Problem ReadValueLine(const std::string& line, Key* current) {
    if (!current)
        return "a value outside any key";
    size_t i = 0;
    Value v;
    if (Problem p = ReadValueName(line, &i, &v.name))
        return p;
    if (i >= line.size() || line[i] != '=')
        return "expected '=' after the value name";
    const std::string data = line.substr(i + 1);
    if (data == "-") {
        current->values.erase(v.name);
        return std::nullopt;
    }
    if (Problem p = DecodeData(data, &v))
        return p;
    const std::string name = v.name;
    current->values[name] = std::move(v);
    return std::nullopt;
}
} // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    return CompareNoCase(a, b) < 0;
}

Key* Key::Find(const std::string& path) {
    if (path.empty())
        return this;
    auto [head, rest] = Head(path);
    auto it = subkeys.find(head);
    return it == subkeys.end() ? nullptr : it->second->Find(rest);
}

Key* Key::Create(const std::string& path, bool* created) {
    if (path.empty())
        return this;
    auto [head, rest] = Head(path);
    auto& slot = subkeys[head];
    if (!slot) {
        slot = std::make_unique<Key>();
        slot->name = head;
        if (created)
            *created = true;
    }
    return slot->Create(rest, created);
}

bool Key::Erase(const std::string& path) {
    auto [head, rest] = Head(path);
    auto it = subkeys.find(head);
    if (it == subkeys.end())
        return false;
    if (rest.empty()) {
        subkeys.erase(it);
        return true;
    }
    return it->second->Erase(rest);
}

std::string Format(const Hive& hive) {
    std::ostringstream out;
    out << kHeader << "\n\n";
    for (const auto& [_, root] : hive.top.subkeys)
        FormatKey(*root, root->name, out);
    return out.str();
}

bool Parse(const std::string& text, const std::string& fileName, Hive* hive, std::string* error) {
    std::istringstream in(text);
    int lineNo = 0;
    bool header = false;
    Key* current = nullptr;
    std::string line;
    Problem problem;
    while (!problem && ReadLine(in, &lineNo, &line)) {
        if (line.empty() || line[0] == ';')
            continue;
        if (!header) {
            header = line == kHeader;
            if (!header)
                problem = ExpectedHeader();
        } else if (line[0] == '[') {
            problem = ReadKeyLine(line, hive, &current);
        } else {
            problem = ReadValueLine(line, current);
        }
    }
    if (!problem && !header && lineNo > 0)
        problem = ExpectedHeader();
    if (problem)
        *error = fileName + ":" + std::to_string(lineNo) + ": " + *problem;
    return !problem;
}

std::string FilePath() {
    if (const char* p = std::getenv("VELMORA_REGISTRY"); p && *p)
        return p;
    std::string base;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
        base = x;
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::string(h) + "/.local/share";
    else
        base = "/tmp";
    return base + "/velmora/registry.reg";
}

std::string LastError() {
    return t_lastError;
}
void SetLastError(std::string message) {
    t_lastError = std::move(message);
}

std::string RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    return "";
}

namespace {

class FileLock {
public:
    FileLock(const std::string& path, bool exclusive) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
            }
    }
    ~FileLock() {
        if (fd_ >= 0)
            ::close(fd_); // closing drops the lock
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

bool ReadWhole(const std::string& path, std::string* out, bool* exists) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *exists = false;
        return errno == ENOENT;
    }
    *exists = true;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        out->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// The temporary files of a registry file are named "<file>.tmp.<pid>.<thread>". Only a writer
// holding the exclusive lock makes one, so under the lock any that exist were left by a writer
// that died (killed, or the machine went down) and can go.
constexpr const char* kTempInfix = ".tmp.";

void RemoveStaleTemporaryFiles(const std::string& path) {
    const std::filesystem::path file(path);
    const std::string prefix = file.filename().string() + kTempInfix;
    std::error_code ec;
    const auto dir = file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0)
            std::filesystem::remove(entry.path(), ec);
    }
}

// Temporary file, fsync, rename, fsync of the folder: the old file stays whole until the new
// one is complete. The new file keeps the old one's permissions.
bool WriteAtomically(const std::string& path, const std::string& text, std::string* error) {
    std::string tmp = path + kTempInfix + std::to_string(::getpid()) + "." +
                      std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = tmp + ": " + std::strerror(errno);
        return false;
    }
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        *error = tmp + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    std::string dir = std::filesystem::path(path).parent_path().string();
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

} // namespace

LSTATUS Transact(bool write, const std::function<LSTATUS(Hive&)>& f) {
    const std::string path = FilePath();
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (write && !parent.empty())
        std::filesystem::create_directories(parent, ec);

    // The lock lives beside the file, so that replacing the file never drops it.
    FileLock lock(path + ".lock", write);
    if (!lock.Held() && write) {
        t_lastError = path + ".lock: " + std::strerror(errno);
        return ERROR_ACCESS_DENIED;
    }
    std::string text;
    bool exists = false;
    if (!ReadWhole(path, &text, &exists)) {
        t_lastError = path + ": " + std::strerror(errno);
        return ERROR_ACCESS_DENIED;
    }
    Hive hive;
    std::string error;
    if (exists && !Parse(text, path, &hive, &error)) {
        t_lastError = error;
        return ERROR_BADDB;
    }
    LSTATUS r = f(hive);
    if (r != ERROR_SUCCESS || !write)
        return r;
    std::string out = Format(hive);
    if (out == text)
        return ERROR_SUCCESS;
    // A file this process may not write is not replaced behind its owner's back (the rename
    // would need only the folder's permission).
    if (exists && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        t_lastError = path + ": " + std::strerror(errno);
        return ERROR_ACCESS_DENIED;
    }
    RemoveStaleTemporaryFiles(path);
    if (!WriteAtomically(path, out, &error)) {
        t_lastError = error;
        return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

} // namespace velmora::registry
