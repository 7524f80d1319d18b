#include "registrar.h"

#include <cctype>
#include <cstring>
#include <vector>

#ifndef _WIN32
#include "registry_store.h"
#endif

namespace velmora::com {
namespace {

void SetError(std::string message) {
#ifdef _WIN32
    OutputDebugStringA(message.c_str());
#else
    registry::SetLastError(std::move(message));
#endif
}

struct ScriptValue {
    std::string name; // empty: the default value
    char type = 0;    // 's' string, 'd' number, 'b' hex bytes; 0: none
    std::string data;
};

struct ScriptKey {
    std::string name;
    bool noRemove = false, forceRemove = false, deleteKey = false;
    ScriptValue value; // the default value given as  name = s '...'
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> keys;
};

class Parser {
public:
    Parser(const std::string& text, const std::map<std::string, std::string>& vars)
        : text_(text), vars_(vars) {}

    bool Script(std::vector<std::pair<std::string, ScriptKey>>* roots) {
        for (;;) {
            std::string tok;
            if (!Next(&tok))
                return error_.empty();
            std::string root = RootName(tok);
            if (root.empty())
                return Fail("unknown root key '" + tok + "'");
            ScriptKey top;
            if (!Expect("{") || !Body(&top))
                return false;
            roots->emplace_back(root, std::move(top));
        }
    }
    const std::string& Error() const { return error_; }

private:
    static std::string RootName(const std::string& t) {
        if (t == "HKCR" || t == "HKEY_CLASSES_ROOT")
            return "HKEY_CLASSES_ROOT";
        if (t == "HKCU" || t == "HKEY_CURRENT_USER")
            return "HKEY_CURRENT_USER";
        if (t == "HKLM" || t == "HKEY_LOCAL_MACHINE")
            return "HKEY_LOCAL_MACHINE";
        return "";
    }

    bool Fail(const std::string& what) {
        if (error_.empty())
            error_ = "registry script, line " + std::to_string(line_) + ": " + what;
        return false;
    }

    // Words, braces, '=' and quoted strings ('' inside a quote is one ').
    bool Next(std::string* tok, bool* quoted = nullptr) {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])))
            line_ += text_[pos_++] == '\n';
        if (quoted)
            *quoted = false;
        if (pos_ >= text_.size())
            return false;
        char c = text_[pos_];
        // A brace alone is punctuation; one that starts a word is part of a name ({clsid}).
        const bool alone =
            pos_ + 1 >= text_.size() || std::isspace(static_cast<unsigned char>(text_[pos_ + 1]));
        if (((c == '{' || c == '}') && alone) || c == '=') {
            *tok = std::string(1, c);
            ++pos_;
            return true;
        }
        tok->clear();
        if (c == '\'') {
            if (quoted)
                *quoted = true;
            for (++pos_; pos_ < text_.size(); ++pos_) {
                if (text_[pos_] == '\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                        tok->push_back('\'');
                        ++pos_;
                        continue;
                    }
                    ++pos_;
                    return Substitute(tok);
                }
                line_ += text_[pos_] == '\n';
                tok->push_back(text_[pos_]);
            }
            return Fail("unterminated quote");
        }
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
               !std::strchr("='", text_[pos_]))
            tok->push_back(text_[pos_++]);
        return Substitute(tok);
    }

    bool Substitute(std::string* tok) {
        std::string out;
        for (size_t i = 0; i < tok->size(); ++i) {
            if ((*tok)[i] != '%') {
                out += (*tok)[i];
                continue;
            }
            size_t end = tok->find('%', i + 1);
            if (end == std::string::npos)
                return Fail("unterminated variable in '" + *tok + "'");
            std::string name = tok->substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += '%';
            } else {
                auto it = vars_.find(name);
                if (it == vars_.end())
                    return Fail("unknown variable %" + name + "%");
                out += it->second;
            }
            i = end;
        }
        *tok = out;
        return true;
    }

    bool Expect(const char* what) {
        std::string tok;
        bool quoted;
        if (!Next(&tok, &quoted) || quoted || tok != what)
            return Fail(std::string("expected '") + what + "'");
        return true;
    }

    bool Data(ScriptValue* v) {
        std::string type, data;
        bool quoted;
        if (!Next(&type, &quoted) || quoted || (type != "s" && type != "d" && type != "b"))
            return Fail("expected a value type s, d or b");
        if (!Next(&data, &quoted) || !quoted)
            return Fail("expected a quoted value");
        v->type = type[0];
        v->data = data;
        return true;
    }

    // Keys and values up to the closing brace.
    bool Body(ScriptKey* parent) {
        for (;;) {
            std::string tok;
            bool quoted;
            if (!Next(&tok, &quoted))
                return Fail("missing '}'");
            if (!quoted && tok == "}")
                return true;
            if (!quoted && tok == "val") {
                ScriptValue v;
                if (!Next(&v.name) || !Expect("=") || !Data(&v))
                    return Fail("malformed value");
                parent->values.push_back(std::move(v));
                continue;
            }
            ScriptKey key;
            while (!quoted && (tok == "NoRemove" || tok == "ForceRemove" || tok == "Delete")) {
                key.noRemove |= tok == "NoRemove";
                key.forceRemove |= tok == "ForceRemove";
                key.deleteKey |= tok == "Delete";
                if (!Next(&tok, &quoted))
                    return Fail("missing key name");
            }
            if (!quoted && (tok == "{" || tok == "=" || tok == "}"))
                return Fail("missing key name");
            key.name = tok;
            // Optional default value, then optional body.
            size_t save = pos_;
            int saveLine = line_;
            std::string peek;
            if (Next(&peek, &quoted) && !quoted && peek == "=") {
                if (!Data(&key.value))
                    return false;
                save = pos_;
                saveLine = line_;
                if (!Next(&peek, &quoted))
                    return Fail("missing '}'");
            }
            if (!quoted && peek == "{") {
                if (!Body(&key))
                    return false;
            } else {
                pos_ = save, line_ = saveLine;
            }
            parent->keys.push_back(std::move(key));
        }
    }

    const std::string& text_;
    const std::map<std::string, std::string>& vars_;
    size_t pos_ = 0;
    int line_ = 1;
    std::string error_;
};

// A value's type and bytes as the registry keeps them; false if its text is malformed.
bool Encode(const ScriptValue& v, DWORD* type, std::vector<BYTE>* data) {
    switch (v.type) {
    case 's':
        *type = REG_SZ;
        data->assign(v.data.begin(), v.data.end());
        data->push_back(0);
        return true;
    case 'd': {
        char* end = nullptr;
        unsigned long n = std::strtoul(v.data.c_str(), &end, 0);
        if (v.data.empty() || *end)
            return false;
        const DWORD d = static_cast<DWORD>(n);
        *type = REG_DWORD;
        data->resize(4);
        std::memcpy(data->data(), &d, 4);
        return true;
    }
    case 'b':
        if (v.data.size() % 2)
            return false;
        *type = REG_BINARY;
        for (size_t i = 0; i < v.data.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(v.data[i])) ||
                !std::isxdigit(static_cast<unsigned char>(v.data[i + 1])))
                return false;
            data->push_back(static_cast<BYTE>(std::stoul(v.data.substr(i, 2), nullptr, 16)));
        }
        return true;
    default:
        *type = REG_NONE; // a key without this value
        return true;
    }
}

bool Valid(const ScriptKey& key) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Encode(key.value, &type, &data))
        return false;
    for (const auto& v : key.values)
        if (data.clear(), !Encode(v, &type, &data))
            return false;
    for (const auto& child : key.keys)
        if (!Valid(child))
            return false;
    return true;
}

#ifdef _WIN32
// The system's registry, one call at a time; the script was checked whole before the first.
class Target {
public:
    void Erase(const std::string& full) {
        auto [root, path] = Split(full);
        RegDeleteTreeA(root, path.c_str());
    }
    void Set(const std::string& full, const ScriptValue& v) {
        auto [root, path] = Split(full);
        HKEY key = nullptr;
        LSTATUS s =
            RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        DWORD type = 0;
        std::vector<BYTE> data;
        if (s == ERROR_SUCCESS && Encode(v, &type, &data) && type != REG_NONE)
            s = RegSetValueExA(key, v.name.empty() ? nullptr : v.name.c_str(), 0, type, data.data(),
                               static_cast<DWORD>(data.size()));
        if (key)
            RegCloseKey(key);
        if (s != ERROR_SUCCESS && status == ERROR_SUCCESS)
            status = s;
    }
    LSTATUS status = ERROR_SUCCESS; // the first failure

private:
    static std::pair<HKEY, std::string> Split(const std::string& full) {
        const size_t slash = full.find('\\');
        const std::string root = full.substr(0, slash);
        // The parser knows these three roots only.
        HKEY h = root == "HKEY_CURRENT_USER"    ? HKEY_CURRENT_USER
                 : root == "HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE
                                                : HKEY_CLASSES_ROOT;
        return {h, full.substr(slash + 1)};
    }
};
#else
// The registry file's tree, inside one transaction.
class Target {
public:
    explicit Target(registry::Key& top) : top_(top) {}
    void Erase(const std::string& full) { top_.Erase(full); }
    void Set(const std::string& full, const ScriptValue& v) {
        registry::Key* k = top_.Create(full);
        registry::Value out;
        out.name = v.name;
        if (Encode(v, &out.type, &out.data) && out.type != REG_NONE)
            k->values[out.name] = std::move(out);
    }

private:
    registry::Key& top_;
};
#endif

void Register(Target& target, const std::string& path, const ScriptKey& key) {
    const std::string full = path + "\\" + key.name;
    if (key.forceRemove || key.deleteKey)
        target.Erase(full);
    if (key.deleteKey)
        return;
    target.Set(full, key.value);
    for (const auto& v : key.values)
        target.Set(full, v);
    for (const auto& child : key.keys)
        Register(target, full, child);
}

void Unregister(Target& target, const std::string& path, const ScriptKey& key) {
    const std::string full = path + "\\" + key.name;
    if (!key.noRemove) {
        target.Erase(full);
        return;
    }
    for (const auto& child : key.keys)
        Unregister(target, full, child);
}

void Apply(Target& target, const std::vector<std::pair<std::string, ScriptKey>>& roots, bool reg) {
    for (const auto& [root, body] : roots)
        for (const auto& key : body.keys) {
            if (reg)
                Register(target, root, key);
            else
                Unregister(target, root, key);
        }
}

} // namespace

HRESULT ApplyRegistryScript(const std::string& script, bool reg,
                            const std::map<std::string, std::string>& variables) {
    std::vector<std::pair<std::string, ScriptKey>> roots;
    Parser parser(script, variables);
    if (!parser.Script(&roots)) {
        SetError(parser.Error());
        return E_INVALIDARG;
    }
    for (const auto& root : roots)
        if (reg && !Valid(root.second)) {
            SetError("registry script: a value of type d or b is malformed");
            return E_INVALIDARG;
        }
#ifdef _WIN32
    Target target;
    Apply(target, roots, reg);
    const LSTATUS s = target.status;
#else
    const LSTATUS s = registry::Transact(true, [&](registry::Hive& h) {
        Target target(h.top);
        Apply(target, roots, reg);
        return ERROR_SUCCESS;
    });
#endif
    return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s);
}

} // namespace velmora::com
