// The property frame: a dialog that creates property pages by CLSID, gives each a page site, the
// objects and its size, activates it inside its own native window and offers OK, Cancel and
// Apply. OleCreatePropertyFrame runs it modally; PropertyFrame is the frame itself, for hosts
// that drive it from their own loop (and for tests).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/com/activation.h"
#include "platform/com/proppage.h"

namespace juce {
class Component;
class DialogWindow;
} // namespace juce

namespace velmora::frame {

// Makes a page object for a CLSID; the default goes through CoCreateInstance.
using PageCreator = std::function<HRESULT(REFCLSID clsid, IPropertyPage** page)>;

class PropertyFrame {
public:
    enum class Result { pending, ok, cancel };

    // Creates the pages, hands them the objects and shows the first one. Must run on the
    // message thread. caption null: the first page's title.
    static HRESULT Create(LPCOLESTR caption, ULONG objectCount, IUnknown** objects, ULONG pageCount,
                          const CLSID* pages, const PageCreator& creator,
                          std::unique_ptr<PropertyFrame>* frame);
    ~PropertyFrame();

    PropertyFrame(const PropertyFrame&) = delete;
    PropertyFrame& operator=(const PropertyFrame&) = delete;

    // What the three buttons do.
    void ok();
    void cancel();
    void apply();
    // Runs the message loop until OK or Cancel (or the window is closed). The owner, a desktop
    // window of this process, takes no input meanwhile; other windows do.
    Result runModal(HWND owner = nullptr);
    Result result() const;

    juce::DialogWindow& window();
    juce::Component& pageArea();
    IPropertyPage* page(size_t index) const;
    size_t pageCount() const;
    // Shows page index (the others are deactivated).
    void showPage(size_t index);
    bool applyEnabled() const;

    struct Impl;

private:
    explicit PropertyFrame(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace velmora::frame

// Runs a modal property frame on the calling thread (the message thread). Pages come from
// CoCreateInstance. Answers S_OK when the frame closed, whatever button closed it.
HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                               ULONG cObjects, IUnknown** ppUnk, ULONG cPages,
                               const CLSID* pPageClsID, LCID lcid, DWORD dwReserved,
                               void* pvReserved);
