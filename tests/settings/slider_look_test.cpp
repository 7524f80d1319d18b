#include <gtest/gtest.h>

#include "cg/colour_component_slider.h"
#include "settings/slider_look_and_feel.h"
#include "tests/gui/gui_test.h"

using guitest::pumpUntil;

namespace {

class SliderLookTest : public guitest::WindowTest {
protected:
    SliderLookAndFeel lnf;
};

} // namespace

TEST_F(SliderLookTest, GrooveAndThumbPixels) {
    juce::Slider slider;
    juce::Image image(juce::Image::ARGB, 160, 40, true);
    {
        juce::Graphics g(image);
        // Track at x 10, 100 wide, rows 0..19; value at pixel 50.
        lnf.drawLinearSlider(g, 10, 0, 100, 20, 50.0f, 10.0f, 110.0f,
                             juce::Slider::LinearHorizontal, slider);
    }
    const juce::Colour dark(53, 53, 53), light(240, 240, 240), edge(160, 160, 160),
        white(255, 255, 255), outline(100, 100, 100), lower(90, 90, 90), none;
    struct Pixel {
        int x, y;
        juce::Colour colour;
    };
    // Groove: columns 6..109, rows 8..11, dark up to the value. Thumb: columns 44..55, rows 1..18.
    const Pixel expected[] = {{20, 9, dark},    {80, 9, light},    {20, 8, edge},   {6, 9, edge},
                              {80, 11, white},  {109, 9, white},   {110, 9, none},  {80, 12, none},
                              {44, 1, outline}, {55, 18, outline}, {45, 10, white}, {50, 2, white},
                              {50, 17, lower},  {43, 5, none},     {50, 19, none}};
    for (auto [x, y, colour] : expected)
        EXPECT_EQ(image.getPixelAt(x, y), colour) << x << "," << y;
}

TEST_F(SliderLookTest, EditorOutlineIsSquareUnfocusedAndRoundedFocused) {
    juce::TextEditor editor;
    editor.setLookAndFeel(&lnf);
    editor.setColour(juce::TextEditor::outlineColourId, juce::Colours::black);
    editor.setSize(60, 20);
    ASSERT_TRUE(show(editor, {50, 50}));
    const juce::Image unfocused = guitest::snapshot(editor);
    EXPECT_TRUE(guitest::near(unfocused.getPixelAt(0, 0), juce::Colours::black, 1));
    EXPECT_TRUE(guitest::near(unfocused.getPixelAt(0, 10), juce::Colours::black, 1));

    editor.grabKeyboardFocus();
    ASSERT_TRUE(pumpUntil([&] { return editor.hasKeyboardFocus(true); }));
    const juce::Image focused = guitest::snapshot(editor);
    const float side = focused.getPixelAt(0, 10).getBrightness();
    EXPECT_GT(focused.getPixelAt(0, 0).getBrightness(), 0.6f) << "rounded corner";
    EXPECT_LT(side, editor.findColour(juce::TextEditor::backgroundColourId).getBrightness());
    EXPECT_GT(side, 0.5f) << "the focused outline's grey, not black";
    editor.setLookAndFeel(nullptr);
}

TEST_F(SliderLookTest, ValueBoxIgnoresTheWheelAndTakesThreeDigits) {
    cg::ColourComponentSlider channel("Red");
    channel.setLookAndFeel(&lnf);
    channel.setSize(160, 21);
    channel.setValue(7.0);
    ASSERT_TRUE(show(channel, {60, 60}));
    auto* box = guitest::find<SliderLabelComp>(channel);
    ASSERT_NE(box, nullptr);
    auto wheel = [&](juce::Point<int> at) {
        input.moveTo(at);
        for (int i = 0; i < 3; ++i) {
            input.press(4);
            input.release(4);
        }
    };
    // Over the track the wheel does move the slider: the events do arrive.
    wheel(channel.localPointToGlobal(juce::Point<int>(40, 10)));
    ASSERT_TRUE(pumpUntil([&] { return channel.getValue() != 7.0; }));
    const double before = channel.getValue();
    wheel(guitest::centreOnScreen(*box));
    // Once the click after the wheel has opened the editor, the wheel events were all handled.
    input.click(guitest::centreOnScreen(*box));
    auto editor = [&] { return box->getCurrentTextEditor(); };
    ASSERT_TRUE(pumpUntil([&] { return editor() != nullptr && editor()->hasKeyboardFocus(true); }));
    EXPECT_EQ(channel.getValue(), before);
    const juce::String shown = editor()->getText();

    // Home comes last: once the caret is at 0, the keys before it were all handled.
    for (const char* key : {"1", "2", "a", "3", "4", "Home"})
        input.key(key);
    ASSERT_TRUE(pumpUntil(
        [&] { return editor()->getCaretPosition() == 0 && editor()->getText() != shown; }));
    EXPECT_EQ(editor()->getText(), "123") << "a fourth digit and a letter are refused";
    input.key("Return");
    ASSERT_TRUE(pumpUntil([&] { return editor() == nullptr; }));
    EXPECT_EQ(channel.getValue(), 123.0);
    channel.setLookAndFeel(nullptr);
}
