// The settings page's look: flat sunken grooves with a small bevelled thumb for horizontal
// sliders, digits-only value boxes and plain text-editor outlines; the framework's look elsewhere.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class SliderLookAndFeel : public juce::LookAndFeel_V2 {
public:
    SliderLookAndFeel();
    ~SliderLookAndFeel() override;

    void drawTextEditorOutline(juce::Graphics& g, int width, int height,
                               juce::TextEditor& textEditor) override;
    void drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                          float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle style,
                          juce::Slider& slider) override;
    void drawLinearSliderBackground(juce::Graphics& g, int x, int y, int width, int height,
                                    float sliderPos, float minSliderPos, float maxSliderPos,
                                    juce::Slider::SliderStyle style, juce::Slider& slider) override;
    void drawLinearSliderThumb(juce::Graphics& g, int x, int y, int width, int height,
                               float sliderPos, float minSliderPos, float maxSliderPos,
                               juce::Slider::SliderStyle style, juce::Slider& slider) override;
    int getSliderThumbRadius(juce::Slider& slider) override;
    juce::Label* createSliderTextBox(juce::Slider& slider) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SliderLookAndFeel)
};

// A slider's value box: ignores the mouse wheel, and its editor takes at most three digits.
class SliderLabelComp : public juce::Label {
public:
    SliderLabelComp();
    ~SliderLabelComp() override;

    void mouseWheelMove(const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

protected:
    juce::TextEditor* createEditorComponent() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SliderLabelComp)
};
