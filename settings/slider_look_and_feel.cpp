#include "slider_look_and_feel.h"

SliderLookAndFeel::SliderLookAndFeel() {
    setColour(juce::TextEditor::focusedOutlineColourId,
              findColour(juce::Slider::textBoxOutlineColourId));
    setColour(juce::TextEditor::highlightColourId, juce::Colour(0xff4169e1));
    setColour(juce::TextEditor::highlightedTextColourId, juce::Colour(0xffffffff));
}

SliderLookAndFeel::~SliderLookAndFeel() = default;

void SliderLookAndFeel::drawTextEditorOutline(juce::Graphics& g, int width, int height,
                                              juce::TextEditor& textEditor) {
    if (!textEditor.isEnabled())
        return;
    if (textEditor.hasKeyboardFocus(true) && !textEditor.isReadOnly()) {
        g.setColour(textEditor.findColour(juce::TextEditor::focusedOutlineColourId));
        g.drawRoundedRectangle(0.0f, 0.0f, static_cast<float>(width), static_cast<float>(height),
                               2.0f, 1.0f);
    } else {
        g.setColour(textEditor.findColour(juce::TextEditor::outlineColourId));
        g.drawRect(0, 0, width, height);
    }
}

void SliderLookAndFeel::drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height,
                                         float sliderPos, float minSliderPos, float maxSliderPos,
                                         juce::Slider::SliderStyle style, juce::Slider& slider) {
    if (style != juce::Slider::LinearHorizontal)
        return;
    drawLinearSliderBackground(g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style,
                               slider);
    drawLinearSliderThumb(g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style,
                          slider);
}

void SliderLookAndFeel::drawLinearSliderBackground(juce::Graphics& g, int x, int y, int width,
                                                   int height, float sliderPos, float, float,
                                                   juce::Slider::SliderStyle,
                                                   juce::Slider& slider) {
    const int r = getSliderThumbRadius(slider);
    // Halving is done in double precision and truncated, as the groove's pixel rows depend on it.
    const int left = static_cast<int>(x - r * 0.5);
    const int top = static_cast<int>((y + height - 4) * 0.5);
    const int span = static_cast<int>(r * 0.5 + width);
    const int right = left + span;

    g.setColour(juce::Colour(240, 240, 240));
    g.fillRect(left, top, span, 4);
    g.setColour(juce::Colour(53, 53, 53));
    g.fillRect(left, top, static_cast<int>(sliderPos) - left, 4);

    g.setColour(juce::Colour(160, 160, 160));
    g.drawHorizontalLine(top, static_cast<float>(left), static_cast<float>(right));
    g.drawVerticalLine(left, static_cast<float>(top), static_cast<float>(top + 4));
    g.setColour(juce::Colours::white);
    g.drawHorizontalLine(top + 3, static_cast<float>(left), static_cast<float>(right));
    g.drawVerticalLine(right - 1, static_cast<float>(top), static_cast<float>(top + 4));
}

void SliderLookAndFeel::drawLinearSliderThumb(juce::Graphics& g, int, int y, int, int height,
                                              float sliderPos, float, float,
                                              juce::Slider::SliderStyle style, juce::Slider&) {
    if (style != juce::Slider::LinearHorizontal)
        return;
    const float cx = sliderPos;
    const float cy = static_cast<float>(y) + static_cast<float>(height) * 0.5f;
    const int l = juce::roundToInt(cx - 6.0f);
    const int t = juce::roundToInt(cy - 9.0f);
    auto fl = [](int v) { return static_cast<float>(v); };

    g.setColour(juce::Colour(100, 100, 100));
    g.drawRect(l, t, 12, 18);
    g.setColour(juce::Colours::white);
    g.drawVerticalLine(l + 1, fl(t + 1), fl(t + 17));
    g.drawHorizontalLine(t + 1, fl(l + 1), fl(l + 11));
    g.setColour(juce::Colour(90, 90, 90));
    g.drawHorizontalLine(t + 16, fl(l + 1), fl(l + 11));

    g.setGradientFill(juce::ColourGradient(juce::Colours::white, fl(l + 2), fl(t + 2),
                                           juce::Colour(171, 171, 171), fl(l + 2), fl(t + 16),
                                           false));
    g.fillRect(l + 2, t + 2, 9, 14);
    g.setGradientFill(juce::ColourGradient(juce::Colour(230, 230, 230), fl(l + 10), fl(t + 2),
                                           juce::Colour(100, 100, 100), fl(l + 10), fl(t + 15),
                                           false));
    g.drawVerticalLine(l + 10, fl(t + 2), fl(t + 16));
}

int SliderLookAndFeel::getSliderThumbRadius(juce::Slider&) {
    return 8;
}

juce::Label* SliderLookAndFeel::createSliderTextBox(juce::Slider& slider) {
    const bool bar = slider.getSliderStyle() == juce::Slider::LinearBar;
    auto* label = new ::SliderLabelComp(); // not the base class's nested one
    label->setJustificationType(juce::Justification::left);
    label->setColour(juce::Label::textColourId,
                     slider.findColour(juce::Slider::textBoxTextColourId));
    label->setColour(juce::Label::backgroundColourId,
                     bar ? juce::Colours::transparentBlack
                         : slider.findColour(juce::Slider::textBoxBackgroundColourId));
    label->setColour(juce::Label::outlineColourId,
                     slider.findColour(juce::Slider::textBoxOutlineColourId));
    label->setColour(juce::TextEditor::textColourId,
                     slider.findColour(juce::Slider::textBoxTextColourId));
    label->setColour(
        juce::TextEditor::backgroundColourId,
        slider.findColour(juce::Slider::textBoxBackgroundColourId).withAlpha(bar ? 0.7f : 1.0f));
    label->setColour(juce::TextEditor::outlineColourId,
                     slider.findColour(juce::Slider::textBoxOutlineColourId));
    label->setFont(juce::Font(12.0f));
    return label;
}

SliderLabelComp::SliderLabelComp() : juce::Label(juce::String(), juce::String()) {}

SliderLabelComp::~SliderLabelComp() = default;

void SliderLabelComp::mouseWheelMove(const juce::MouseEvent&, const juce::MouseWheelDetails&) {}

juce::TextEditor* SliderLabelComp::createEditorComponent() {
    juce::TextEditor* editor = juce::Label::createEditorComponent();
    editor->setInputRestrictions(3, "0123456789");
    return editor;
}
