#include "property_frame.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include "juce/gui_start.h"
#include "platform/com/object.h"
#include "juce/gui_start.h"

namespace velmora::frame {
namespace {

constexpr int kMargin = 7, kButtonWidth = 75, kButtonHeight = 23, kTabHeight = 24;

juce::String ToJuce(LPCOLESTR s) {
    return s ? juce::String(juce::CharPointer_UTF32(reinterpret_cast<const juce::juce_wchar*>(s)))
             : juce::String();
}

// What the pages see of the frame.
class PageSite final : public com::SimpleObject<PageSite, IPropertyPageSite> {
public:
    // onKey: a key a page did not use (Enter, Escape); true if the frame took it.
    PageSite(std::function<void()> onDirty, std::function<bool(WPARAM)> onKey)
        : onDirty_(std::move(onDirty)), onKey_(std::move(onKey)) {}
    STDMETHOD(OnStatusChange)(DWORD flags) override {
        if ((flags & PROPPAGESTATUS_DIRTY) && onDirty_)
            onDirty_();
        return S_OK;
    }
    STDMETHOD(GetLocaleID)(LCID* lcid) override {
        if (!lcid)
            return E_POINTER;
        *lcid = kLangEnglishUS;
        return S_OK;
    }
    STDMETHOD(GetPageContainer)(IUnknown** unk) override {
        if (unk)
            *unk = nullptr;
        return E_NOTIMPL; // pages here never ask for their container
    }
    // As a dialog does: Enter is OK, Escape is Cancel.
    STDMETHOD(TranslateAccelerator)(MSG* msg) override {
        if (!msg)
            return E_POINTER;
        return msg->message == WM_KEYDOWN && onKey_ && onKey_(msg->wParam) ? S_OK : S_FALSE;
    }
    void Detach() {
        onDirty_ = nullptr;
        onKey_ = nullptr;
    }

private:
    std::function<void()> onDirty_;
    std::function<bool(WPARAM)> onKey_;
};

} // namespace

struct PropertyFrame::Impl : private juce::Button::Listener, private juce::ChangeListener {
    struct Page {
        com::ComPtr<IPropertyPage> page;
        juce::String title;
        SIZE size{0, 0};
    };

    // The dialog; closing it by its own button is a Cancel.
    class Window : public juce::DialogWindow {
    public:
        Window(const juce::String& title, Impl& owner)
            : juce::DialogWindow(title, juce::Colour(240, 240, 240), true, true), owner_(owner) {}
        void closeButtonPressed() override { owner_.finish(Result::cancel); }

    private:
        Impl& owner_;
    };

    GuiStart gui; // first: the components below need the framework
    std::vector<Page> pages;
    std::vector<com::ComPtr<IUnknown>> objects;
    PageSite* site = nullptr;
    juce::Component content;
    juce::Component area;
    juce::TabbedButtonBar tabs{juce::TabbedButtonBar::TabsAtTop};
    juce::TextButton okButton{"OK"}, cancelButton{"Cancel"}, applyButton{"Apply"};
    std::unique_ptr<Window> window;
    size_t shown = SIZE_MAX;
    Result result = Result::pending;

    ~Impl() override { close(); }

    void buttonClicked(juce::Button* b) override {
        if (b == &okButton)
            finish(Result::ok);
        else if (b == &cancelButton)
            finish(Result::cancel);
        else if (b == &applyButton)
            applyDirty();
    }

    void changeListenerCallback(juce::ChangeBroadcaster*) override {
        showPage(static_cast<size_t>(tabs.getCurrentTabIndex()));
    }

    void applyDirty() {
        for (auto& p : pages)
            if (p.page->IsPageDirty() == S_OK)
                p.page->Apply();
        applyButton.setEnabled(false);
    }

    void finish(Result r) {
        if (result != Result::pending)
            return;
        if (r == Result::ok)
            applyDirty();
        result = r;
        close();
    }

    // Pages let go of their windows, their site and their objects.
    void close() {
        if (shown < pages.size())
            pages[shown].page->Deactivate();
        shown = SIZE_MAX;
        for (auto& p : pages) {
            p.page->SetPageSite(nullptr);
            IUnknown* none = nullptr;
            p.page->SetObjects(0, &none);
        }
        pages.clear();
        if (site) {
            site->Detach();
            site->Release();
            site = nullptr;
        }
        if (window)
            window->setVisible(false);
    }

    void showPage(size_t index) {
        if (index == shown || index >= pages.size())
            return;
        if (shown < pages.size())
            pages[shown].page->Deactivate();
        shown = index;
        // The page's window becomes a child of the dialog's, over the page area.
        auto r = window->getLocalArea(&area, area.getLocalBounds());
        RECT rect{r.getX(), r.getY(), r.getRight(), r.getBottom()};
        pages[index].page->Activate(static_cast<HWND>(window->getWindowHandle()), &rect, TRUE);
        pages[index].page->Show(SW_SHOW);
    }

    void layOut(const juce::String& caption) {
        int w = 0, h = 0;
        for (auto& p : pages) {
            w = std::max<int>(w, p.size.cx);
            h = std::max<int>(h, p.size.cy);
        }
        const int top = pages.size() > 1 ? kTabHeight + kMargin : 0;
        if (pages.size() > 1) {
            for (auto& p : pages)
                tabs.addTab(p.title, juce::Colour(240, 240, 240), -1);
            tabs.setBounds(kMargin, kMargin, w, kTabHeight);
            tabs.addChangeListener(this);
            content.addAndMakeVisible(tabs);
        }
        area.setBounds(kMargin, kMargin + top, w, h);
        content.addAndMakeVisible(area);
        const int buttonsY = area.getBottom() + kMargin;
        int x = kMargin + w;
        for (auto* b : {&applyButton, &cancelButton, &okButton}) {
            x -= kButtonWidth;
            b->setBounds(x, buttonsY, kButtonWidth, kButtonHeight);
            b->addListener(this);
            content.addAndMakeVisible(b);
            x -= kMargin;
        }
        applyButton.setEnabled(false);
        okButton.addShortcut(juce::KeyPress(juce::KeyPress::returnKey));
        cancelButton.addShortcut(juce::KeyPress(juce::KeyPress::escapeKey));
        content.setSize(w + 2 * kMargin, buttonsY + kButtonHeight + kMargin);

        window = std::make_unique<Window>(caption, *this);
        window->setUsingNativeTitleBar(false);
        window->setContentNonOwned(&content, true);
        window->centreWithSize(window->getWidth(), window->getHeight());
        window->setVisible(true);
    }
};

PropertyFrame::PropertyFrame(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PropertyFrame::~PropertyFrame() = default;

HRESULT PropertyFrame::Create(LPCOLESTR caption, ULONG objectCount, IUnknown** objects,
                              ULONG pageCount, const CLSID* pageIds, const PageCreator& creator,
                              std::unique_ptr<PropertyFrame>* frame) {
    if (!frame || (objectCount && !objects) || (pageCount && !pageIds))
        return E_POINTER;
    frame->reset();
    if (pageCount == 0)
        return E_INVALIDARG;
    auto impl = std::make_unique<Impl>();

    for (ULONG i = 0; i < objectCount; ++i)
        impl->objects.emplace_back(objects[i]);
    Impl* raw = impl.get();
    impl->site = new PageSite([raw] { raw->applyButton.setEnabled(true); },
                              [raw](WPARAM key) {
                                  if (key != VK_RETURN && key != VK_ESCAPE)
                                      return false;
                                  // After the page's own key handling has unwound.
                                  juce::MessageManager::callAsync([raw, key] {
                                      raw->finish(key == VK_RETURN ? Result::ok : Result::cancel);
                                  });
                                  return true;
                              });

    std::vector<IUnknown*> objectArray(objects, objects + objectCount);
    IUnknown* none = nullptr;
    for (ULONG i = 0; i < pageCount; ++i) {
        Impl::Page p;
        HRESULT hr =
            creator ? creator(pageIds[i], &p.page)
                    : CoCreateInstance(pageIds[i], nullptr, CLSCTX_INPROC_SERVER,
                                       uuidof<IPropertyPage>(), reinterpret_cast<void**>(&p.page));
        if (FAILED(hr))
            return hr;
        p.page->SetPageSite(impl->site);
        p.page->SetObjects(objectCount, objectCount ? objectArray.data() : &none);
        PROPPAGEINFO info{};
        hr = p.page->GetPageInfo(&info);
        if (SUCCEEDED(hr)) {
            p.title = ToJuce(info.pszTitle);
            p.size = info.size;
            CoTaskMemFree(info.pszTitle);
            CoTaskMemFree(info.pszDocString);
            CoTaskMemFree(info.pszHelpFile);
        }
        impl->pages.push_back(std::move(p));
    }
    impl->layOut(caption ? ToJuce(caption) : impl->pages[0].title);
    impl->showPage(0);
    frame->reset(new PropertyFrame(std::move(impl)));
    return S_OK;
}

void PropertyFrame::ok() {
    impl_->finish(Result::ok);
}
void PropertyFrame::cancel() {
    impl_->finish(Result::cancel);
}
void PropertyFrame::apply() {
    impl_->applyDirty();
}

PropertyFrame::Result PropertyFrame::runModal(HWND owner) {
    // Not the framework's modal state: that holds back input from every other desktop window,
    // the page's panel among them. As on Windows, the frame blocks its caller and disables its
    // owner window only.
    juce::Component* ownerWindow = nullptr;
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; owner && i < desktop.getNumComponents(); ++i)
        if (desktop.getComponent(i)->getWindowHandle() == owner)
            ownerWindow = desktop.getComponent(i);
    juce::Component::SafePointer<juce::Component> disabled(
        ownerWindow && ownerWindow->isEnabled() ? ownerWindow : nullptr);
    if (disabled)
        disabled->setEnabled(false);
    while (impl_->result == Result::pending)
        if (!juce::MessageManager::getInstance()->runDispatchLoopUntil(20))
            impl_->finish(Result::cancel); // the application is quitting
    if (disabled)
        disabled->setEnabled(true);
    return impl_->result;
}

PropertyFrame::Result PropertyFrame::result() const {
    return impl_->result;
}
juce::DialogWindow& PropertyFrame::window() {
    return *impl_->window;
}
juce::Component& PropertyFrame::pageArea() {
    return impl_->area;
}
IPropertyPage* PropertyFrame::page(size_t index) const {
    return index < impl_->pages.size() ? impl_->pages[index].page.Get() : nullptr;
}
size_t PropertyFrame::pageCount() const {
    return impl_->pages.size();
}
void PropertyFrame::showPage(size_t index) {
    impl_->showPage(index);
}
bool PropertyFrame::applyEnabled() const {
    return impl_->applyButton.isEnabled();
}

} // namespace velmora::frame

HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT, UINT, LPCOLESTR lpszCaption, ULONG cObjects,
                               IUnknown** ppUnk, ULONG cPages, const CLSID* pPageClsID, LCID, DWORD,
                               void*) {
    std::unique_ptr<velmora::frame::PropertyFrame> frame;
    HRESULT hr = velmora::frame::PropertyFrame::Create(lpszCaption, cObjects, ppUnk, cPages,
                                                       pPageClsID, nullptr, &frame);
    if (FAILED(hr))
        return hr;
    frame->runModal(hwndOwner);
    return S_OK;
}
