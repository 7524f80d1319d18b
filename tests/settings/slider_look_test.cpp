#include <gtest/gtest.h>

#include "cg/colour_component_slider.h"
#include "settings/slider_look_and_feel.h"
#include "tests/gui/gui_test.h"

using guitest::flushMessages;
using guitest::pumpUntil;

namespace {

const juce::Colour grooveLight(240, 240, 240), grooveDark(53, 53, 53), grooveEdge(160, 160, 160),
    white(255, 255, 255), thumbOutline(100, 100, 100), thumbLower(90, 90, 90);

class SliderLookTest : public guitest::GuiTest {
protected:
    juce::Image drawSlider(juce::Slider::SliderStyle style, int x, int y, int w, int h, float pos) {
        juce::Image image(juce::Image::ARGB, 160, 40, true);
        juce::Graphics g(image);
        lnf.drawLinearSlider(g, x, y, w, h, pos, static_cast<float>(x), static_cast<float>(x + w),
                             style, slider);
        return image;
    }
    juce::Image drawGroove(int x, int y, int w, int h, float pos) {
        juce::Image image(juce::Image::ARGB, 160, 40, true);
        juce::Graphics g(image);
        lnf.drawLinearSliderBackground(g, x, y, w, h, pos, static_cast<float>(x),
                                       static_cast<float>(x + w), juce::Slider::LinearHorizontal,
                                       slider);
        return image;
    }
    SliderLookAndFeel lnf;
    juce::Slider slider;
};

} // namespace

TEST_F(SliderLookTest, ColourTableAndFixedValues) {
    juce::LookAndFeel_V2 standard;
    EXPECT_EQ(lnf.findColour(juce::TextEditor::focusedOutlineColourId),
              standard.findColour(juce::Slider::textBoxOutlineColourId));
    EXPECT_EQ(lnf.findColour(juce::TextEditor::highlightColourId).getARGB(), 0xff4169e1u);
    EXPECT_EQ(lnf.findColour(juce::TextEditor::highlightedTextColourId).getARGB(), 0xffffffffu);
    EXPECT_EQ(lnf.getSliderThumbRadius(slider), 8);

    slider.setSliderStyle(juce::Slider::LinearBar);
    std::unique_ptr<juce::Label> bar(lnf.createSliderTextBox(slider));
    EXPECT_EQ(bar->findColour(juce::Label::backgroundColourId), juce::Colours::transparentBlack);
    EXPECT_EQ(bar->findColour(juce::TextEditor::backgroundColourId).getAlpha(),
              juce::Colour(0xffffffff).withAlpha(0.7f).getAlpha());
    slider.setSliderStyle(juce::Slider::LinearHorizontal);
    std::unique_ptr<juce::Label> box(lnf.createSliderTextBox(slider));
    ASSERT_NE(dynamic_cast<SliderLabelComp*>(box.get()), nullptr);
    EXPECT_EQ(box->getJustificationType().getFlags(), juce::Justification::left);
    EXPECT_EQ(box->getFont().getHeight(), 12.0f);
    EXPECT_EQ(box->findColour(juce::Label::backgroundColourId),
              slider.findColour(juce::Slider::textBoxBackgroundColourId));
    EXPECT_EQ(box->findColour(juce::TextEditor::outlineColourId),
              slider.findColour(juce::Slider::textBoxOutlineColourId));
}

TEST_F(SliderLookTest, GrooveAndThumbPixels) {
    // Track at x 10, 100 wide, rows 0..19; value at pixel 50.
    const juce::Image image = drawSlider(juce::Slider::LinearHorizontal, 10, 0, 100, 20, 50.0f);
    // Groove: columns 6..109, rows 8..11.
    EXPECT_EQ(image.getPixelAt(20, 9), grooveDark);
    EXPECT_EQ(image.getPixelAt(20, 10), grooveDark);
    EXPECT_EQ(image.getPixelAt(80, 9), grooveLight);
    EXPECT_EQ(image.getPixelAt(20, 8), grooveEdge) << "top edge";
    EXPECT_EQ(image.getPixelAt(6, 9), grooveEdge) << "left edge";
    EXPECT_EQ(image.getPixelAt(80, 11), white) << "bottom edge";
    EXPECT_EQ(image.getPixelAt(109, 9), white) << "right edge";
    EXPECT_EQ(image.getPixelAt(110, 9).getAlpha(), 0);
    EXPECT_EQ(image.getPixelAt(5, 9).getAlpha(), 0);
    EXPECT_EQ(image.getPixelAt(80, 7).getAlpha(), 0);
    EXPECT_EQ(image.getPixelAt(80, 12).getAlpha(), 0);
    // Thumb: columns 44..55, rows 1..18.
    for (auto [x, y] : {std::pair{44, 1}, {55, 1}, {44, 18}, {55, 18}, {50, 1}, {44, 10}})
        EXPECT_EQ(image.getPixelAt(x, y), thumbOutline) << x << "," << y;
    EXPECT_EQ(image.getPixelAt(45, 10), white) << "left highlight";
    EXPECT_EQ(image.getPixelAt(50, 2), white) << "top highlight";
    EXPECT_EQ(image.getPixelAt(50, 17), thumbLower);
    EXPECT_EQ(image.getPixelAt(43, 5).getAlpha(), 0);
    EXPECT_EQ(image.getPixelAt(50, 0).getAlpha(), 0);
    EXPECT_EQ(image.getPixelAt(50, 19).getAlpha(), 0);
    const juce::Colour faceTop = image.getPixelAt(48, 3), faceBottom = image.getPixelAt(48, 15);
    EXPECT_GT(faceTop.getRed(), 240);
    EXPECT_LT(faceBottom.getRed(), 190);
    EXPECT_GT(faceBottom.getRed(), 165);
    EXPECT_GT(image.getPixelAt(54, 3).getRed(), image.getPixelAt(54, 14).getRed()) << "right shade";
    EXPECT_LT(image.getPixelAt(54, 14).getRed(), 130);

    // The dark part runs from the groove's left end to the value: 4 pixels at the track's start,
    // the whole groove at its end.
    const juce::Image atStart = drawGroove(10, 0, 100, 20, 10.0f);
    EXPECT_EQ(atStart.getPixelAt(7, 9), grooveDark);
    EXPECT_EQ(atStart.getPixelAt(9, 9), grooveDark);
    EXPECT_EQ(atStart.getPixelAt(10, 9), grooveLight);
    const juce::Image atEnd = drawGroove(10, 0, 100, 20, 110.0f);
    EXPECT_EQ(atEnd.getPixelAt(7, 9), grooveDark);
    EXPECT_EQ(atEnd.getPixelAt(90, 9), grooveDark);
    EXPECT_EQ(atEnd.getPixelAt(108, 9), grooveDark);
    // The groove's top is (y + height - 4) / 2, the sum halved: a track lower down keeps it there.
    const juce::Image lower = drawSlider(juce::Slider::LinearHorizontal, 10, 10, 100, 20, 50.0f);
    EXPECT_EQ(lower.getPixelAt(20, 13), grooveEdge);
    EXPECT_EQ(lower.getPixelAt(20, 14), grooveDark);

    // Every other linear style draws nothing at all.
    for (auto style : {juce::Slider::LinearVertical, juce::Slider::LinearBar,
                       juce::Slider::TwoValueHorizontal, juce::Slider::ThreeValueHorizontal}) {
        const juce::Image none = drawSlider(style, 10, 0, 100, 20, 50.0f);
        bool blank = true;
        for (int y = 0; y < none.getHeight(); ++y)
            for (int x = 0; x < none.getWidth(); ++x)
                blank = blank && none.getPixelAt(x, y).getAlpha() == 0;
        EXPECT_TRUE(blank) << style;
    }
}

TEST_F(SliderLookTest, ChannelSliderDrawsWithTheLook) {
    cg::ColourComponentSlider channel("Red");
    channel.setLookAndFeel(&lnf);
    channel.setBounds(0, 0, 160, 21);
    channel.setValue(128.0);
    const auto pos = static_cast<float>(channel.getPositionOfValue(128.0));
    const int start = static_cast<int>(channel.getPositionOfValue(0.0));
    const juce::Image image = guitest::snapshot(channel);
    const int top = (21 - 4) / 2; // (y + height - 4) / 2, truncated
    EXPECT_EQ(image.getPixelAt(start, top + 1), grooveDark) << "dark from the groove's start";
    EXPECT_EQ(image.getPixelAt(start - 4, top + 1), grooveEdge);
    EXPECT_EQ(image.getPixelAt(juce::roundToInt(pos) + 12, top + 1), grooveLight);
    EXPECT_EQ(image.getPixelAt(juce::roundToInt(pos - 6.0f), 10), thumbOutline);
    EXPECT_EQ(channel.getTextFromValue(channel.getValue()), "128");
    channel.setLookAndFeel(nullptr);
}

TEST_F(SliderLookTest, EditorOutlineFollowsFocusReadOnlyAndEnabled) {
    guitest::TestWindow window({50, 50, 200, 80}, juce::Colours::white);
    window.setLookAndFeel(&lnf);
    juce::TextEditor editor;
    editor.setColour(juce::TextEditor::outlineColourId, juce::Colours::black);
    editor.setBounds(20, 20, 60, 20);
    window.addAndMakeVisible(editor);
    juce::TextEditor other;
    other.setBounds(100, 20, 60, 20);
    window.addAndMakeVisible(other);
    ASSERT_TRUE(guitest::waitUntilShown(window));
    const juce::Colour bg = editor.findColour(juce::TextEditor::backgroundColourId);
    const juce::Colour square = juce::Colours::black;

    juce::Image unfocused = guitest::snapshot(editor);
    EXPECT_TRUE(guitest::near(unfocused.getPixelAt(0, 0), square, 1)) << "square corner";
    EXPECT_TRUE(guitest::near(unfocused.getPixelAt(0, 10), square, 1));

    editor.grabKeyboardFocus();
    ASSERT_TRUE(pumpUntil([&] { return editor.hasKeyboardFocus(true); }));
    juce::Image focused = guitest::snapshot(editor);
    const juce::Colour corner = focused.getPixelAt(0, 0), side = focused.getPixelAt(0, 10);
    EXPECT_GT(corner.getBrightness(), 0.6f) << "rounded corner";
    EXPECT_LT(side.getBrightness(), bg.getBrightness()) << "a line along the side";
    EXPECT_GT(side.getBrightness(), 0.5f) << "in the focused outline colour, not black";
    // The focused colour is the table's, grey 128 at alpha 178, half of it inside the edge.
    EXPECT_EQ(editor.findColour(juce::TextEditor::focusedOutlineColourId).getARGB(), 0xb2808080u);

    editor.setReadOnly(true);
    EXPECT_TRUE(guitest::near(guitest::snapshot(editor).getPixelAt(0, 0), square, 1));
    editor.setReadOnly(false);
    editor.setEnabled(false);
    const juce::Image disabled = guitest::snapshot(editor);
    EXPECT_NE(disabled.getPixelAt(0, 10), unfocused.getPixelAt(0, 10)) << "no outline";
    window.setLookAndFeel(nullptr);
}

namespace {

class ValueBoxTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        window = std::make_unique<guitest::TestWindow>(juce::Rectangle<int>(60, 60, 200, 40),
                                                       juce::Colour(0xfff0f0f0));
        window->setLookAndFeel(&lnf);
        channel = std::make_unique<cg::ColourComponentSlider>("Red");
        channel->setLookAndFeel(&lnf);
        channel->setBounds(0, 10, 160, 21);
        channel->setValue(7.0);
        window->addAndMakeVisible(*channel);
        ASSERT_TRUE(guitest::waitUntilShown(*window));
        box = dynamic_cast<SliderLabelComp*>(findBox());
        ASSERT_NE(box, nullptr);
    }
    void TearDown() override {
        channel->setLookAndFeel(nullptr);
        channel.reset();
        window->setLookAndFeel(nullptr);
        window.reset();
        GuiTest::TearDown();
    }
    juce::Label* findBox() {
        for (auto* c : channel->getChildren())
            if (auto* label = dynamic_cast<juce::Label*>(c))
                return label;
        return nullptr;
    }
    juce::TextEditor* startEditing() {
        input.click(guitest::centreOnScreen(*box));
        if (!pumpUntil([&] {
                return box->getCurrentTextEditor() != nullptr &&
                       box->getCurrentTextEditor()->hasKeyboardFocus(true);
            }))
            return nullptr;
        return box->getCurrentTextEditor();
    }
    SliderLookAndFeel lnf;
    std::unique_ptr<guitest::TestWindow> window;
    std::unique_ptr<cg::ColourComponentSlider> channel;
    SliderLabelComp* box = nullptr;
    guitest::FakeInput input;
};

} // namespace

TEST_F(ValueBoxTest, TypingTakesThreeDigitsAndNothingElse) {
    juce::TextEditor* editor = startEditing();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->getText(), "7");
    input.type("123");
    ASSERT_TRUE(pumpUntil([&] { return editor->getText() == "123"; }));
    input.type("4a-.");
    input.key("Home"); // processed after the refused keys: the caret moves to 0
    ASSERT_TRUE(pumpUntil([&] { return editor->getCaretPosition() == 0; }));
    EXPECT_EQ(editor->getText(), "123") << "a fourth digit and other characters are refused";

    input.key("Return");
    ASSERT_TRUE(pumpUntil([&] { return box->getCurrentTextEditor() == nullptr; }));
    EXPECT_EQ(channel->getValue(), 123.0);

    editor = startEditing();
    ASSERT_NE(editor, nullptr);
    input.type("a9");
    ASSERT_TRUE(pumpUntil([&] { return editor->getText().contains("9"); }));
    EXPECT_EQ(editor->getText(), "9") << "the letter never arrived";
    input.type("99");
    input.key("Return");
    ASSERT_TRUE(pumpUntil([&] { return box->getCurrentTextEditor() == nullptr; }));
    EXPECT_EQ(channel->getValue(), 255.0) << "999 is limited to the range";
    EXPECT_EQ(box->getText(), "255");
}

TEST_F(ValueBoxTest, MouseWheelOverTheBoxDoesNothing) {
    // The wheel over the track does move the slider: the events do arrive.
    input.moveTo(channel->localPointToGlobal(juce::Point<int>(40, 10)));
    input.press(4);
    input.release(4);
    ASSERT_TRUE(pumpUntil([&] { return channel->getValue() != 7.0; }));
    const double before = channel->getValue();

    input.moveTo(guitest::centreOnScreen(*box));
    for (int i = 0; i < 3; ++i) {
        input.press(4);
        input.release(4);
        input.press(5);
        input.release(5);
        input.press(4);
        input.release(4);
    }
    // A click after the wheel: once its editor is open, the wheel events were all handled.
    ASSERT_NE(startEditing(), nullptr);
    EXPECT_EQ(channel->getValue(), before);
}
