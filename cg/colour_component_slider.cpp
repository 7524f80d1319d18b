#include "colour_component_slider.h"

#include <cmath>
#include <cstdlib>

namespace cg {

ColourComponentSlider::ColourComponentSlider(const juce::String& name) : juce::Slider(name) {
    setTextBoxStyle(juce::Slider::TextBoxRight, false, 36, 20);
    setRange(0.0, 255.0, 1.0);
}

double ColourComponentSlider::getValueFromText(const juce::String& text) {
    // strtol's rules exactly: leading blanks and a sign, then digits up to the first non-digit.
    // Long texts saturate instead of overflowing; the slider clamps to its range anyway.
    return static_cast<double>(std::strtol(text.toRawUTF8(), nullptr, 10));
}

juce::String ColourComponentSlider::getTextFromValue(double value) {
    // Truncation toward zero; out-of-range values are clamped first so the conversion is defined.
    if (std::isnan(value))
        value = 0.0;
    value = juce::jlimit(-2147483648.0, 2147483647.0, value);
    return juce::String(static_cast<int>(value));
}

} // namespace cg
