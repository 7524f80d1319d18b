#include "settings_frame.h"

#include <cstdio>

#include <juce_gui_basics/juce_gui_basics.h>

#include "api/velmora.h"
#include "output_file.h"
#include "platform/frame/property_frame.h"
#include "juce/gui_start.h"
#include "png_io.h"
#include "progress.h"
#include "settings_file.h"

// Xlib last: its macros clash with the framework's names.
#include <X11/Xlib.h>

using velmora::com::ComPtr;

namespace velmora::host {
namespace {

bool DisplayAvailable() {
    if (!std::getenv("DISPLAY"))
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

// Where a native child window sits inside its parent, if parent is its parent.
bool ChildPosition(void* child, void* parent, juce::Point<int>* at) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    Window root = 0, up = 0, *children = nullptr;
    unsigned count = 0;
    const auto window = static_cast<Window>(reinterpret_cast<std::uintptr_t>(child));
    bool found = XQueryTree(display, window, &root, &up, &children, &count) != 0 &&
                 up == static_cast<Window>(reinterpret_cast<std::uintptr_t>(parent));
    if (children)
        XFree(children);
    XWindowAttributes attributes{};
    if (found && XGetWindowAttributes(display, window, &attributes))
        *at = {attributes.x, attributes.y};
    XCloseDisplay(display);
    return found;
}

// The frame as it paints itself, with each page window painted at its place inside it.
juce::Image RenderFrame(juce::DialogWindow& window) {
    juce::Image shot = window.createComponentSnapshot(window.getLocalBounds(), true, 1.0f);
    juce::Graphics g(shot);
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i) {
        juce::Component* c = desktop.getComponent(i);
        juce::Point<int> at;
        if (c == &window || !c->isVisible() ||
            !ChildPosition(c->getWindowHandle(), window.getWindowHandle(), &at))
            continue;
        g.drawImageAt(c->createComponentSnapshot(c->getLocalBounds(), true, 1.0f), at.x, at.y);
    }
    return shot;
}

bool WriteScreenshot(const juce::Image& shot, const std::string& path, std::string* error) {
    Image image;
    image.width = static_cast<std::uint32_t>(shot.getWidth());
    image.height = static_cast<std::uint32_t>(shot.getHeight());
    image.bgra.resize(static_cast<size_t>(image.width) * image.height * 4);
    const juce::Image::BitmapData data(shot, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < shot.getHeight(); ++y)
        for (int x = 0; x < shot.getWidth(); ++x) {
            const juce::Colour c = data.getPixelColour(x, y);
            std::uint8_t* p = image.bgra.data() + (static_cast<size_t>(y) * image.width + x) * 4;
            p[0] = c.getBlue(), p[1] = c.getGreen(), p[2] = c.getRed(), p[3] = c.getAlpha();
        }
    OutputFile out;
    if (!out.Open(path, error))
        return false;
    if (!WritePng(out.stream(), image, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return out.Commit(error);
}

} // namespace

int RunFrame(client::EffectSource& source, IUnknown* effect, const SettingsOptions& o) {
    if (!DisplayAvailable())
        return Fail("the settings page needs an X display, and none can be opened (DISPLAY=" +
                    std::string(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") + ")");
    ComPtr<ISpecifyPropertyPages> specify;
    effect->QueryInterface(uuidof<ISpecifyPropertyPages>(), reinterpret_cast<void**>(&specify));
    CAUUID pages{};
    HRESULT hr = specify ? specify->GetPages(&pages) : E_NOINTERFACE;
    if (FAILED(hr) || pages.cElems == 0) {
        CoTaskMemFree(pages.pElems);
        return Fail("the effect names no settings page (" + client::Hex(hr) + ")");
    }

    int status = 0;
    {
        GuiStart gui;
        std::unique_ptr<velmora::frame::PropertyFrame> frame;
        IUnknown* objects[] = {effect};
        // Pages come from where the effect came from: the registry, or the module itself.
        auto creator = [&source](REFCLSID clsid, IPropertyPage** page) {
            return source.Create(clsid, uuidof<IPropertyPage>(), reinterpret_cast<void**>(page));
        };
        hr = velmora::frame::PropertyFrame::Create(nullptr, 1, objects, pages.cElems, pages.pElems,
                                                   creator, &frame);
        if (FAILED(hr)) {
            status = Fail("cannot open the settings page (" + client::Hex(hr) + ")");
        } else if (!o.screenshot.empty()) {
            // Let the page settle: its first colour broadcast and layout run as messages.
            juce::MessageManager::getInstance()->runDispatchLoopUntil(300);
            std::string error;
            if (!WriteScreenshot(RenderFrame(frame->window()), o.screenshot, &error))
                status = Fail(error);
            frame->cancel();
        } else {
            status = FinishFrame(effect, o,
                                 frame->runModal() == velmora::frame::PropertyFrame::Result::ok);
        }
        frame.reset();
        juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    }
    CoTaskMemFree(pages.pElems);
    return status;
}

} // namespace velmora::host
