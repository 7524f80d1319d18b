#include "matte.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace velmora::host {
namespace {

using client::FormatColour;
using client::Hex;
using client::Query;

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// #RRGGBB, #RGB, #AARRGGBB, and the same digits with 0x or nothing before them.
bool ParseHexColour(const std::string& text, FilterProps* out) {
    std::string digits = text;
    if (digits.rfind('#', 0) == 0)
        digits.erase(0, 1);
    else if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0)
        digits.erase(0, 2);
    if (digits.size() == 3 && text[0] == '#')
        digits = {digits[0], digits[0], digits[1], digits[1], digits[2], digits[2]};
    if (digits.size() != 6 && digits.size() != 8)
        return false;
    std::uint32_t v = 0;
    for (char c : digits) {
        int d = HexValue(c);
        if (d < 0)
            return false;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    if (digits.size() == 6)
        v |= 0xFF000000u;
    *out = FilterProps{static_cast<BYTE>(v >> 24), static_cast<BYTE>(v >> 16),
                       static_cast<BYTE>(v >> 8), static_cast<BYTE>(v)};
    return true;
}

} // namespace

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool ParseMatte(const std::string& text, const std::vector<Preset>& presets, Matte* matte,
                std::string* error) {
    // Presets first, by name or by index; then colours.
    const std::string wanted = Lower(text);
    std::string names;
    for (size_t i = 0; i < presets.size(); ++i) {
        std::string name = Lower(presets[i].name);
        std::string bare = name;
        bare.erase(std::remove(bare.begin(), bare.end(), '('), bare.end());
        bare.erase(std::remove(bare.begin(), bare.end(), ')'), bare.end());
        if (wanted == name || wanted == bare || wanted == std::to_string(i)) {
            matte->isPreset = true;
            matte->preset = static_cast<LONG>(i);
            matte->colour = presets[i].props;
            matte->label = presets[i].name + " (" + FormatColour(presets[i].props) + ")";
            return true;
        }
        names += (i ? ", " : "") + presets[i].name;
    }
    if (ParseHexColour(text, &matte->colour)) {
        matte->isPreset = false;
        matte->label = FormatColour(matte->colour);
        return true;
    }
    *error = "unknown matte '" + text + "': use a preset (" + names +
             ", or its index) or a colour #RRGGBB, #RGB or #AARRGGBB";
    return false;
}

bool ApplyMatte(IUnknown* effect, const Matte& matte, std::string* error) {
    HRESULT hr = E_NOINTERFACE;
    if (matte.isPreset) {
        if (auto presets = Query<IStaticFilterPreset>(effect))
            hr = presets->ApplyPreset(matte.preset);
    } else if (auto exchange = Query<ISfExchangeProps<FilterProps>>(effect)) {
        hr = exchange->SetProps(&matte.colour);
    }
    if (FAILED(hr))
        *error = "the effect refused the matte " + matte.label + " (" + Hex(hr) + ")";
    return SUCCEEDED(hr);
}

} // namespace velmora::host
