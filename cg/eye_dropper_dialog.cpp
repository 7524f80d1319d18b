#include "eye_dropper_dialog.h"

#include "eye_dropper_icon.h"
#include "platform/platform.h"

namespace cg {

juce::Colour getColourUnderMouse() {
    HDC dc = GetDC(nullptr);
    POINT point{-1, -1}; // unread position: GetPixel then reports failure
    GetCursorPos(&point);
    const COLORREF pixel = GetPixel(dc, point.x, point.y);
    ReleaseDC(nullptr, dc);
    return juce::Colour(static_cast<juce::uint8>(pixel & 0xff),
                        static_cast<juce::uint8>((pixel >> 8) & 0xff),
                        static_cast<juce::uint8>((pixel >> 16) & 0xff));
}

EyeDropperDialog::EyeDropperDialog()
    // Escape is not routed to the (hidden) close button: its shortcut listener can swallow the key
    // without clicking; keyPressed below closes on every key, Escape included.
    : juce::DialogWindow("Eyedropper", juce::Colour(0xffff0000), false, true),
      pickedColour(0xff000000), colourPicked(false) {
    setTitleBarHeight(0);
    setDropShadowEnabled(false);
    setBackgroundColour(juce::Colour(overlayColour));
    if (auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        setBounds(display->totalArea);
    setAlwaysOnTop(true);
    setResizable(false, false);
    const juce::Image icon = juce::ImageCache::getFromMemory(eyeDropperIcon, eyeDropperIconSize);
    if (icon.isValid())
        setMouseCursor(juce::MouseCursor(icon, 0, icon.getHeight()));
}

EyeDropperDialog::~EyeDropperDialog() = default;

void EyeDropperDialog::mouseDown(const juce::MouseEvent&) {}

void EyeDropperDialog::mouseDrag(const juce::MouseEvent&) {}

void EyeDropperDialog::mouseUp(const juce::MouseEvent&) {
    pickedColour = getColourUnderMouse();
    colourPicked = true;
    exitModalState(0);
}

bool EyeDropperDialog::keyPressed(const juce::KeyPress&) {
    exitModalState(0);
    return true;
}

void EyeDropperDialog::focusLost(FocusChangeType) {
    exitModalState(0);
}

int EyeDropperDialog::getDesktopWindowStyleFlags() const {
    return juce::ComponentPeer::windowIsTemporary;
}

void EyeDropperDialog::closeButtonPressed() {
    exitModalState(0);
}

void EyeDropperDialog::visibilityChanged() {
    juce::DialogWindow::visibilityChanged();
#if JUCE_WINDOWS
    constexpr DWORD excludeFromCapture = 0x11; // Windows 10 2004 on; refused before, harmlessly
    if (auto* peer = getPeer())
        SetWindowDisplayAffinity(static_cast<HWND>(peer->getNativeHandle()), excludeFromCapture);
#endif
}

} // namespace cg
