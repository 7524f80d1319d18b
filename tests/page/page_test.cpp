// The settings page as a host meets it: in the property frame, on a real effect object.
#include <gtest/gtest.h>

#include <thread>

#include "cg/colour_selector.h"
#include "tests/effect/effect_rig.h"
#include "platform/com/object.h"
#include "platform/frame/property_frame.h"
#include "settings/prop_page_comp.h"
#include "settings/velmora_pp.h"
#include "tests/gui/gui_test.h"

using guitest::flushMessages;
using guitest::pumpUntil;
using velmora::com::ComPtr;
using velmora::frame::PropertyFrame;

namespace {

using velmora::test::kBlue;
using velmora::test::kGreen;

// Stands for the effect in front of the page and counts what the page asks of it.
class CountingEffect final
    : public velmora::com::SimpleObject<CountingEffect, ISfExchangeProps<FilterProps>> {
public:
    explicit CountingEffect(ISfExchangeProps<FilterProps>* real) : real_(real) {}
    STDMETHOD(GetProps)(FilterProps* p) override { return ++gets, real_->GetProps(p); }
    STDMETHOD(SetProps)(const FilterProps* p) override { return ++sets, real_->SetProps(p); }
    STDMETHOD(SetNotifyWindow)(HWND hwnd, UINT id) override {
        return target = hwnd, real_->SetNotifyWindow(hwnd, id);
    }
    int gets = 0, sets = 0;
    HWND target = nullptr;

private:
    ComPtr<ISfExchangeProps<FilterProps>> real_;
};

HRESULT CreatePage(IPropertyPage** page) {
    return velmora::CreateSettingsPage(nullptr, uuidof<IPropertyPage>(),
                                       reinterpret_cast<void**>(page));
}

class PageTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        rig.SetProps(kGreen); // differs from the selector's first colour
        proxy = new CountingEffect(rig.fx);
    }
    void TearDown() override {
        frame.reset();
        flushMessages();
        proxy->Release();
    }
    void OpenFrame() {
        IUnknown* objects[] = {proxy};
        const CLSID pages[] = {CLSID_VelmoraPP};
        ASSERT_EQ(PropertyFrame::Create(
                      nullptr, 1, objects, 1, pages,
                      [](REFCLSID, IPropertyPage** page) { return CreatePage(page); }, &frame),
                  S_OK);
        ASSERT_TRUE(guitest::waitUntilShown(frame->window()));
        ASSERT_TRUE(pumpUntil([&] { return Panel() && Panel()->isShowing(); }));
        flushMessages();
    }
    CVelmoraPP* Page() { return static_cast<CVelmoraPP*>(frame->page(0)); }
    PropPageComp* Panel() { return Page()->panel(); }
    // The panel is a child window of the frame's, and the framework learns its screen position
    // only later: count from the frame.
    juce::Point<int> OnScreen(juce::Component& c, juce::Point<int> local) {
        return frame->window().getScreenPosition() + Panel()->getPosition() +
               Panel()->getLocalPoint(&c, local);
    }

    velmora::test::EffectRig rig;
    CountingEffect* proxy = nullptr;
    std::unique_ptr<PropertyFrame> frame;
};

} // namespace

TEST_F(PageTest, ActivationReadsOnceWritesTheSameRecordBackAndShowsIt) {
    OpenFrame();
    EXPECT_EQ(proxy->gets, 1);
    EXPECT_EQ(proxy->target, Page()->m_hWnd);
    EXPECT_EQ(proxy->sets, 1) << "the selector's first broadcast, written back once";
    EXPECT_EQ(rig.Props(), kGreen);
    EXPECT_EQ(Panel()->getFilterProps(), kGreen);
    // The compositor has caught up once the screen shows the effect's green in the preview.
    auto* selector = Panel()->getColourSelector();
    const auto preview = OnScreen(*selector, selector->getPreviewArea().getCentre());
    ASSERT_TRUE(pumpUntil(
        [&] { return guitest::near(guitest::screenPixel(preview), juce::Colour(0, 255, 0), 2); }));
    EXPECT_TRUE(guitest::writePng(guitest::captureScreen(frame->window().getScreenBounds()),
                                  "page-in-frame.png", VELMORA_SCREENSHOT_DIR));
}

TEST_F(PageTest, NoticesRefreshThePanelUntilDeactivation) {
    OpenFrame();
    // A preset applied from another thread posts the notice; the panel follows on this one.
    std::thread([&] { rig.fx->ApplyPreset(2); }).join();
    ASSERT_TRUE(pumpUntil([&] { return Panel()->getFilterProps() == kBlue; }));

    // A change that sends no notice, then another command: only passed through.
    rig.SetProps(kGreen);
    PostMessageA(Page()->m_hWnd, WM_COMMAND, 0x1234, 0);
    flushMessages();
    EXPECT_EQ(Panel()->getFilterProps(), kBlue);
    PostMessageA(Page()->m_hWnd, WM_COMMAND, kPageNoticeCommand, 0);
    ASSERT_TRUE(pumpUntil([&] { return Panel()->getFilterProps() == kGreen; }));

    PostMessageA(Page()->m_hWnd, WM_COMMAND, kPageNoticeCommand, 0); // queued before the page goes
    const int gets = proxy->gets;
    EXPECT_EQ(frame->page(0)->Deactivate(), S_OK);
    EXPECT_EQ(proxy->target, nullptr);
    flushMessages();
    EXPECT_EQ(proxy->gets, gets) << "the queued notice reached no page";
}

TEST_F(PageTest, OkAndCancelClose) {
    for (auto button : {&PropertyFrame::ok, &PropertyFrame::cancel}) {
        OpenFrame();
        const int sets = proxy->sets;
        (frame.get()->*button)();
        EXPECT_EQ(frame->result(), button == &PropertyFrame::ok ? PropertyFrame::Result::ok
                                                                : PropertyFrame::Result::cancel);
        EXPECT_EQ(frame->pageCount(), 0u);
        EXPECT_EQ(proxy->target, nullptr) << "the page let go of its window";
        EXPECT_EQ(proxy->sets, sets) << "edits were written at once; the page is never dirty";
        frame.reset();
    }
}

TEST_F(PageTest, RunModalTakesInputAtOnceDisablesOnlyTheOwnerAndEnterIsOk) {
    OpenFrame();
    const int before = proxy->sets;
    auto* view = guitest::find<cg::ColourSelector::ColourSpaceView>(*Panel()->getColourSelector());
    ASSERT_NE(view, nullptr);
    guitest::FakeInput input;
    guitest::TestWindow owner({600, 500, 100, 100}, juce::Colours::white);
    auto modal = [&] { return !owner.isEnabled(); };
    // Low and to the left in the square: a dark, unsaturated colour, far from pure green.
    const auto at = OnScreen(*view, view->getLocalBounds().getRelativePoint(0.2f, 0.8f));
    // Enter in the page, as in any dialog, is OK.
    guitest::Script script({{modal, [&] { input.click(at); }, [&] { return proxy->sets > before; }},
                            {modal, [&] { input.key("Return"); }}});
    EXPECT_EQ(frame->runModal(static_cast<HWND>(owner.getWindowHandle())),
              PropertyFrame::Result::ok);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(owner.isEnabled());
    EXPECT_NE(rig.Props(), kGreen) << "the edit reached the effect";
}

TEST_F(PageTest, AloneWithoutAWindowAndReleasedWithItsPanelAlive) {
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(CreatePage(&page), S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(info.size.cx, 280);
    EXPECT_EQ(info.size.cy, 360);
    EXPECT_STREQ(info.pszTitle, L"Velmora");
    EXPECT_STREQ(info.pszHelpFile, L"Help File Name");
    EXPECT_STREQ(info.pszDocString, L"Your Help String");
    for (LPOLESTR s : {info.pszTitle, info.pszHelpFile, info.pszDocString})
        CoTaskMemFree(s);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Help(nullptr), E_FAIL);
    RECT r{0, 0, 10, 10};
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page->Move(&r), E_UNEXPECTED);
    IUnknown* none = nullptr;
    EXPECT_EQ(page->SetObjects(0, &none), S_OK);

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

    // Released while active, without Deactivate: nothing may post to the freed page.
    guitest::TestWindow host({40, 40, 300, 380}, juce::Colours::grey);
    ASSERT_TRUE(guitest::waitUntilShown(host));
    IUnknown* objects[] = {proxy};
    page->SetObjects(1, objects);
    r = {0, 0, 280, 360};
    ASSERT_EQ(page->Activate(static_cast<HWND>(host.getWindowHandle()), &r, TRUE), S_OK);
    PostMessageA(static_cast<CVelmoraPP*>(page.Get())->m_hWnd, WM_COMMAND, kPageNoticeCommand, 0);
    EXPECT_EQ(page.Detach()->Release(), 0u);
    EXPECT_EQ(proxy->target, nullptr);
    const int gets = proxy->gets;
    flushMessages();
    EXPECT_EQ(proxy->gets, gets);
}
