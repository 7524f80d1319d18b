// One 8-bit channel of the colour selector's colour, with an editable decimal value box.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace cg {

class ColourComponentSlider : public juce::Slider {
public:
    explicit ColourComponentSlider(const juce::String& name);

    double getValueFromText(const juce::String& text) override;
    juce::String getTextFromValue(double value) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ColourComponentSlider)
};

} // namespace cg
