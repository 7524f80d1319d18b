// The settings page as a host meets it: in the property frame, on a real effect object.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "effect/velmora.h"
#include "platform/com/object.h"
#include "platform/frame/property_frame.h"
#include "settings/prop_page_comp.h"
#include "settings/velmora_pp.h"
#include "tests/gui/gui_test.h"
#include "cg/colour_selector.h"

using guitest::flushMessages;
using guitest::pumpUntil;
using velmora::com::ComPtr;

namespace {

const FilterProps kGreen{255, 0, 255, 0}, kBlue{255, 0, 0, 255};

// Stands for the effect in front of the page and counts what the page asks of it.
class CountingEffect final
    : public velmora::com::SimpleObject<CountingEffect, ISfExchangeProps<FilterProps>> {
public:
    explicit CountingEffect(ISfExchangeProps<FilterProps>* real) : real_(real) {}
    STDMETHOD(GetProps)(FilterProps* p) override {
        ++gets;
        return real_->GetProps(p);
    }
    STDMETHOD(SetProps)(const FilterProps* p) override {
        ++sets;
        if (p)
            lastSet = *p;
        return real_->SetProps(p);
    }
    STDMETHOD(SetNotifyWindow)(HWND hwnd, UINT id) override {
        target = hwnd;
        targetId = id;
        return real_->SetNotifyWindow(hwnd, id);
    }
    int gets = 0, sets = 0;
    FilterProps lastSet{};
    HWND target = nullptr;
    UINT targetId = 0;

private:
    ComPtr<ISfExchangeProps<FilterProps>> real_;
};

class PageInFrame : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        ASSERT_EQ(velmora::com::CComPolyObject<CVelmora>::CreateInstance(
                      nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)),
                  S_OK);
        effect->QueryInterface(uuidof<ISfExchangeProps<FilterProps>>(),
                               reinterpret_cast<void**>(&exchange));
        effect->QueryInterface(uuidof<IStaticFilterPreset>(), reinterpret_cast<void**>(&presets));
        exchange->SetProps(&kGreen); // differs from the selector's first colour
        proxy = new CountingEffect(exchange.Get());
    }
    void TearDown() override {
        frame.reset();
        flushMessages();
        proxy->Release();
        GuiTest::TearDown();
    }
    void OpenFrame() {
        IUnknown* objects[] = {proxy};
        const CLSID pages[] = {CLSID_VelmoraPP};
        ASSERT_EQ(velmora::frame::PropertyFrame::Create(
                      nullptr, 1, objects, 1, pages,
                      [](REFCLSID, IPropertyPage** page) {
                          return velmora::CreateSettingsPage(nullptr, uuidof<IPropertyPage>(),
                                                             reinterpret_cast<void**>(page));
                      },
                      &frame),
                  S_OK);
        ASSERT_TRUE(guitest::waitUntilShown(frame->window()));
        ASSERT_TRUE(pumpUntil([&] { return Page()->panel() && Page()->panel()->isShowing(); }));
    }
    CVelmoraPP* Page() { return static_cast<CVelmoraPP*>(frame->page(0)); }
    // Where a point of a component inside the panel is on screen. The panel is a child window of
    // the frame's, and the framework learns its screen position only later: count from the frame.
    juce::Point<int> OnScreen(juce::Component& c, juce::Point<int> local) {
        auto* panel = Page()->panel();
        return frame->window().getScreenPosition() + panel->getPosition() +
               panel->getLocalPoint(&c, local);
    }
    FilterProps EffectProps() {
        FilterProps p{};
        exchange->GetProps(&p);
        return p;
    }

    ComPtr<IUnknown> effect;
    ComPtr<ISfExchangeProps<FilterProps>> exchange;
    ComPtr<IStaticFilterPreset> presets;
    CountingEffect* proxy = nullptr;
    std::unique_ptr<velmora::frame::PropertyFrame> frame;
};

template <class T>
T* FindChild(juce::Component& root) {
    if (auto* found = dynamic_cast<T*>(&root))
        return found;
    for (auto* c : root.getChildren())
        if (auto* found = FindChild<T>(*c))
            return found;
    return nullptr;
}

} // namespace

TEST_F(PageInFrame, ActivationReadsOnceAndWritesTheSameRecordBack) {
    OpenFrame();
    EXPECT_EQ(frame->window().getName(), "Velmora") << "titled with the page's title";
    EXPECT_EQ(proxy->gets, 1);
    EXPECT_EQ(proxy->targetId, kPageNoticeCommand);
    EXPECT_EQ(proxy->target, Page()->m_hWnd);
    flushMessages();
    EXPECT_EQ(proxy->sets, 1) << "the selector's first broadcast, written back once";
    EXPECT_EQ(proxy->lastSet, kGreen);
    EXPECT_EQ(Page()->panel()->getFilterProps(), kGreen);
    EXPECT_EQ(frame->page(0)->IsPageDirty(), S_FALSE);
}

TEST_F(PageInFrame, AnEditByRealInputReachesTheEffectAtOnce) {
    OpenFrame();
    flushMessages();
    const int before = proxy->sets;
    auto* view = FindChild<cg::ColourSelector::ColourSpaceView>(*Page()->panel());
    ASSERT_NE(view, nullptr);
    guitest::FakeInput input;
    // Low and to the left in the square: a dark, unsaturated colour, far from pure green.
    auto at = OnScreen(*view, view->getLocalBounds().getRelativePoint(0.2f, 0.8f));
    input.click(at);
    ASSERT_TRUE(pumpUntil([&] { return proxy->sets > before; }));
    EXPECT_EQ(EffectProps(), Page()->panel()->getFilterProps());
    EXPECT_NE(EffectProps(), kGreen);
}

TEST_F(PageInFrame, NoticesFromTheEffectRefreshThePanel) {
    OpenFrame();
    flushMessages();
    // A preset applied from another thread posts the notice; the panel follows on this one.
    std::thread([&] { presets->ApplyPreset(2); }).join();
    ASSERT_TRUE(pumpUntil([&] { return Page()->panel()->getFilterProps() == kBlue; }));

    // A change that sends no notice, then another command: only passed through.
    exchange->SetProps(&kGreen);
    PostMessageA(Page()->m_hWnd, WM_COMMAND, 0x1234, 0);
    flushMessages();
    EXPECT_EQ(Page()->panel()->getFilterProps(), kBlue);
    PostMessageA(Page()->m_hWnd, WM_COMMAND, kPageNoticeCommand, 0);
    ASSERT_TRUE(pumpUntil([&] { return Page()->panel()->getFilterProps() == kGreen; }));
}

TEST_F(PageInFrame, DeactivationStopsTheNotices) {
    OpenFrame();
    flushMessages();
    HWND window = Page()->m_hWnd;
    PostMessageA(window, WM_COMMAND, kPageNoticeCommand, 0); // queued before the page goes
    const int gets = proxy->gets;
    EXPECT_EQ(frame->page(0)->Deactivate(), S_OK);
    EXPECT_EQ(proxy->target, nullptr);
    EXPECT_EQ(proxy->targetId, 0u);
    EXPECT_EQ(Page()->m_hWnd, nullptr);
    EXPECT_FALSE(IsWindow(window));
    flushMessages();
    EXPECT_EQ(proxy->gets, gets) << "the queued notice reached no page";
    EXPECT_EQ(PostMessageA(window, WM_COMMAND, kPageNoticeCommand, 0), FALSE);
}

TEST_F(PageInFrame, OkAppliesAndClosesCancelOnlyCloses) {
    OpenFrame();
    flushMessages();
    const int sets = proxy->sets;
    frame->apply();
    EXPECT_EQ(proxy->sets, sets) << "Apply touches only dirty pages, and the page never is";
    ComPtr<IPropertyPage> page(frame->page(0));
    frame->ok();
    EXPECT_EQ(frame->result(), velmora::frame::PropertyFrame::Result::ok);
    EXPECT_EQ(frame->pageCount(), 0u);
    EXPECT_EQ(proxy->target, nullptr) << "the page let go of its window";
    EXPECT_EQ(static_cast<CVelmoraPP*>(page.Get())->panel(), nullptr);
}

TEST_F(PageInFrame, RunModallyThePageTakesInputAndTheOwnerNone) {
    OpenFrame();
    flushMessages();
    const int before = proxy->sets;
    auto* view = FindChild<cg::ColourSelector::ColourSpaceView>(*Page()->panel());
    ASSERT_NE(view, nullptr);
    std::map<juce::String, juce::Component*> buttons;
    for (auto* c : frame->window().getContentComponent()->getChildren())
        if (auto* b = dynamic_cast<juce::TextButton*>(c))
            buttons[b->getButtonText()] = b;
    ASSERT_EQ(buttons.size(), 3u);
    guitest::FakeInput input;
    guitest::TestWindow owner({600, 500, 100, 100}, juce::Colours::white);
    auto modal = [&] { return !owner.isEnabled(); };
    auto clickView = [&](float x, float y) {
        return [&, x, y] {
            input.click(OnScreen(*view, view->getLocalBounds().getRelativePoint(x, y)));
        };
    };
    int sets = 0;
    // An edit; a click on the frame itself (the disabled Apply), which brings it to front; another
    // edit; OK.
    guitest::Script script(
        {{modal, clickView(0.2f, 0.8f), [&] { return (sets = proxy->sets) > before; }},
         {modal, [&] { input.click(guitest::centreOnScreen(*buttons["Apply"])); }},
         {modal, clickView(0.7f, 0.3f), [&] { return proxy->sets > sets; }},
         {modal, [&] { input.click(guitest::centreOnScreen(*buttons["OK"])); }}});
    EXPECT_EQ(frame->runModal(static_cast<HWND>(owner.getWindowHandle())),
              velmora::frame::PropertyFrame::Result::ok);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(owner.isEnabled());
    EXPECT_EQ(EffectProps(), proxy->lastSet) << "both edits made while modal reached the effect";
    EXPECT_NE(EffectProps(), kGreen);
}

TEST_F(PageInFrame, Screenshot) {
    OpenFrame();
    flushMessages();
    // The compositor has caught up once the screen shows the effect's green in the preview.
    auto* selector = Page()->panel()->getColourSelector();
    const auto preview = OnScreen(*selector, selector->getPreviewArea().getCentre());
    ASSERT_TRUE(pumpUntil(
        [&] { return guitest::near(guitest::screenPixel(preview), juce::Colour(0, 255, 0), 2); }));
    auto shot = guitest::captureScreen(frame->window().getScreenBounds());
    juce::File out = juce::File(VELMORA_SCREENSHOT_DIR).getChildFile("page-in-frame.png");
    out.deleteFile();
    juce::FileOutputStream stream(out);
    ASSERT_TRUE(stream.openedOk());
    ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(shot, stream));
}

// Page behaviour that needs no frame, and a page released with its panel alive.
class PageAlone : public guitest::GuiTest {};

TEST_F(PageAlone, InformationAndArguments) {
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(velmora::CreateSettingsPage(nullptr, uuidof<IPropertyPage>(),
                                          reinterpret_cast<void**>(&page)),
              S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(info.cb, 48u);
    EXPECT_EQ(info.size.cx, 280);
    EXPECT_EQ(info.size.cy, 360);
    EXPECT_STREQ(info.pszTitle, L"Velmora");
    EXPECT_STREQ(info.pszHelpFile, L"Help File Name");
    EXPECT_STREQ(info.pszDocString, L"Your Help String");
    EXPECT_EQ(info.dwHelpContext, 0u);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    CoTaskMemFree(info.pszDocString);
    EXPECT_EQ(page->GetPageInfo(nullptr), E_POINTER);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Help(nullptr), E_FAIL);
    RECT r{0, 0, 10, 10};
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page->Move(&r), E_UNEXPECTED);
    EXPECT_EQ(page->Activate(nullptr, nullptr, TRUE), E_POINTER);
    IUnknown* none = nullptr;
    EXPECT_EQ(page->SetObjects(0, &none), S_OK);
    EXPECT_EQ(page->SetObjects(0, nullptr), E_POINTER);
    EXPECT_EQ(page->Apply(), S_OK) << "no object: nothing to write";

    struct Site final : velmora::com::SimpleObject<Site, IPropertyPageSite> {
        STDMETHOD(OnStatusChange)(DWORD) override { return S_OK; }
        STDMETHOD(GetLocaleID)(LCID*) override { return E_NOTIMPL; }
        STDMETHOD(GetPageContainer)(IUnknown**) override { return E_NOTIMPL; }
        STDMETHOD(TranslateAccelerator)(MSG*) override { return S_FALSE; }
    };
    auto* site = new Site;
    EXPECT_EQ(page->SetPageSite(site), S_OK);
    EXPECT_EQ(page->SetPageSite(site), E_UNEXPECTED);
    EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(site->Release(), 0u) << "the page let go of its site";
    MSG key{nullptr, 0x0100, 0, 0, 0, {0, 0}};
    EXPECT_EQ(page->TranslateAccelerator(&key), S_FALSE);
}

TEST_F(PageAlone, ReleasedWithItsPanelAliveLeavesNoHook) {
    ComPtr<IUnknown> effect;
    ASSERT_EQ(velmora::com::CComPolyObject<CVelmora>::CreateInstance(
                  nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)),
              S_OK);
    ComPtr<ISfExchangeProps<FilterProps>> exchange;
    effect->QueryInterface(uuidof<ISfExchangeProps<FilterProps>>(),
                           reinterpret_cast<void**>(&exchange));
    auto* proxy = new CountingEffect(exchange.Get());
    guitest::TestWindow host({40, 40, 300, 380}, juce::Colours::grey);
    ASSERT_TRUE(guitest::waitUntilShown(host));

    IPropertyPage* page = nullptr;
    ASSERT_EQ(velmora::CreateSettingsPage(nullptr, uuidof<IPropertyPage>(),
                                          reinterpret_cast<void**>(&page)),
              S_OK);
    IUnknown* objects[] = {proxy};
    page->SetObjects(1, objects);
    RECT r{0, 0, 280, 360};
    ASSERT_EQ(page->Activate(static_cast<HWND>(host.getWindowHandle()), &r, TRUE), S_OK);
    HWND window = static_cast<CVelmoraPP*>(page)->m_hWnd;
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(page->Show(SW_SHOW), S_OK);
    RECT moved{10, 10, 200, 300};
    EXPECT_EQ(page->Move(&moved), S_OK);
    EXPECT_EQ(page->Move(nullptr), E_POINTER);
    PostMessageA(window, WM_COMMAND, kPageNoticeCommand, 0);

    EXPECT_EQ(page->Release(), 0u); // no Deactivate first
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(proxy->target, nullptr) << "the effect no longer posts to a freed page";
    const int gets = proxy->gets;
    flushMessages();
    EXPECT_EQ(proxy->gets, gets);
    proxy->Release();
}
