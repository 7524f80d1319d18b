#include "registrar.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "hresult.h"
#include "registry_store.h"

namespace velmora::com {
namespace {

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

bool SetValue(registry::Key* k, const ScriptValue& v) {
    registry::Value out;
    out.name = v.name;
    switch (v.type) {
    case 's':
        out.type = REG_SZ;
        out.data.assign(v.data.begin(), v.data.end());
        out.data.push_back(0);
        break;
    case 'd': {
        char* end = nullptr;
        unsigned long n = std::strtoul(v.data.c_str(), &end, 0);
        if (v.data.empty() || *end)
            return false;
        DWORD d = static_cast<DWORD>(n);
        out.type = REG_DWORD;
        out.data.resize(4);
        std::memcpy(out.data.data(), &d, 4);
        break;
    }
    case 'b':
        if (v.data.size() % 2)
            return false;
        out.type = REG_BINARY;
        for (size_t i = 0; i < v.data.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(v.data[i])) ||
                !std::isxdigit(static_cast<unsigned char>(v.data[i + 1])))
                return false;
            out.data.push_back(static_cast<BYTE>(std::stoul(v.data.substr(i, 2), nullptr, 16)));
        }
        break;
    default:
        return true;
    }
    k->values[out.name] = std::move(out);
    return true;
}

bool Register(registry::Key& top, const std::string& path, const ScriptKey& key) {
    const std::string full = path + "\\" + key.name;
    if (key.forceRemove || key.deleteKey)
        top.Erase(full);
    if (key.deleteKey)
        return true;
    registry::Key* k = top.Create(full);
    if (!SetValue(k, key.value))
        return false;
    for (const auto& v : key.values)
        if (!SetValue(k, v))
            return false;
    for (const auto& child : key.keys)
        if (!Register(top, full, child))
            return false;
    return true;
}

void Unregister(registry::Key& top, const std::string& path, const ScriptKey& key) {
    const std::string full = path + "\\" + key.name;
    if (!key.noRemove) {
        top.Erase(full);
        return;
    }
    for (const auto& child : key.keys)
        Unregister(top, full, child);
}

} // namespace

HRESULT ApplyRegistryScript(const std::string& script, bool reg,
                            const std::map<std::string, std::string>& variables) {
    std::vector<std::pair<std::string, ScriptKey>> roots;
    Parser parser(script, variables);
    if (!parser.Script(&roots)) {
        registry::SetLastError(parser.Error());
        return E_INVALIDARG;
    }
    bool bad = false;
    LSTATUS s = registry::Transact(true, [&](registry::Hive& h) {
        for (const auto& [root, body] : roots)
            for (const auto& key : body.keys) {
                if (reg)
                    bad |= !Register(h.top, root, key);
                else
                    Unregister(h.top, root, key);
            }
        return bad ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    });
    if (bad) {
        registry::SetLastError("registry script: a value of type d or b is malformed");
        return E_INVALIDARG;
    }
    return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s);
}

} // namespace velmora::com
