// A screen-covering, invisible window that reads the screen pixel where the mouse is released.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace cg {

// The colour the screen shows under the pointer now, opaque; opaque white when it cannot be read.
juce::Colour getColourUnderMouse();

class EyeDropperDialog : public juce::DialogWindow {
public:
    EyeDropperDialog();
    ~EyeDropperDialog() override;

    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;
    bool keyPressed(const juce::KeyPress&) override;
    void focusLost(FocusChangeType) override;
    int getDesktopWindowStyleFlags() const override;
    void closeButtonPressed() override;
    void visibilityChanged() override;

#if JUCE_WINDOWS
    // Windows lets the mouse through fully transparent pixels of a window: the least alpha that
    // keeps it. The screen read leaves the window out where the system can.
    static constexpr juce::uint32 overlayColour = 0x01ff0000;
#else
    // The overlay adds no colour of its own: under a compositor the screen read sees through it,
    // and X11 still delivers the clicks on fully transparent pixels to it.
    static constexpr juce::uint32 overlayColour = 0x00ff0000;
#endif

    juce::Colour pickedColour;
    bool colourPicked;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(EyeDropperDialog)
};

} // namespace cg
