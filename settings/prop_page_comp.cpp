#include "prop_page_comp.h"

#include "images.h"

#if JUCE_LINUX
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

constexpr int selectorFlags =
    cg::ColourSelector::showAlphaChannel | cg::ColourSelector::showColourPreview |
    cg::ColourSelector::showSliders | cg::ColourSelector::showColourspace |
    cg::ColourSelector::showEyeDropper;

// The framework's own way on Linux never reaps the shell it starts, which stays defunct for the
// host's life. Here a child starts the desktop's opener and exits at once, and is reaped; the
// opener, orphaned, belongs to init.
bool launchInBrowser(const juce::URL& url) {
#if JUCE_LINUX
    const juce::String address = url.toString(true);
    const char* const argv[] = {"xdg-open", address.toRawUTF8(), nullptr};
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (::fork() == 0) {
            ::setsid();
            ::execvp(argv[0], const_cast<char* const*>(argv));
        }
        ::_exit(0);
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return true;
#else
    return url.launchInDefaultBrowser();
#endif
}

PropPageComp::UrlLauncher urlLauncher = launchInBrowser;

// The looks of the live panels, oldest first: the newest one is the framework's default.
juce::Array<SliderLookAndFeel*>& liveLooks() {
    static juce::Array<SliderLookAndFeel*> looks;
    return looks;
}

juce::ImageButton* makeImageButton(const juce::String& name, const unsigned char* data, int size) {
    auto* button = new juce::ImageButton(name);
    const juce::Image image = juce::ImageFileFormat::loadFrom(data, static_cast<size_t>(size));
    button->setImages(true, false, true, image, 1.0f, juce::Colour(0x00000000), image, 1.0f,
                      juce::Colour(0x00000000), image, 1.0f, juce::Colour(0x00000000), 0.0f);
    return button;
}

} // namespace

PropPageComp::PropPageComp(void* parentNativeWindow)
    : colourSelector(nullptr), changeCallback(nullptr),
      callbackContext(nullptr), props{0xff, 0, 0, 0}, backgroundColour(240, 240, 240),
      sliderLookAndFeel(nullptr), bannerButton(nullptr), pluginLogo(nullptr) {
    setOpaque(true);
    setWantsKeyboardFocus(true); // a click in the page makes Enter and Escape its own
    addToDesktop(0, parentNativeWindow);

    sliderLookAndFeel = new SliderLookAndFeel();
    liveLooks().add(sliderLookAndFeel);
    juce::LookAndFeel::setDefaultLookAndFeel(sliderLookAndFeel);

    colourSelector = new cg::ColourSelector(selectorFlags, 4, 6);
    colourSelector->setSize(200, 280);
    colourSelector->setColour(cg::ColourSelector::backgroundColourId, backgroundColour);
    colourSelector->addChangeListener(this);
    addAndMakeVisible(colourSelector);
    // The record starts as opaque black, and the selector shows what the record holds.
    updateSelector();

    bannerButton =
        makeImageButton("BannerButton", velmora::bannerImageData, velmora::bannerImageDataSize);
    bannerButton->addListener(this);
    bannerButton->setMouseCursor(juce::MouseCursor::PointingHandCursor);
    addAndMakeVisible(bannerButton);

    pluginLogo = makeImageButton("PluginLogo", velmora::logoImageData, velmora::logoImageDataSize);
    addAndMakeVisible(pluginLogo);

    const juce::Image banner = bannerButton->getNormalImage();
    const juce::Image logo = pluginLogo->getNormalImage();
    bannerButton->setBounds(1, 1, banner.getWidth() + 1, banner.getHeight() + 1);
    pluginLogo->setBounds(banner.getWidth() + 4, 1, logo.getWidth() + 1, logo.getHeight() + 1);

    setVisible(true);
}

PropPageComp::~PropPageComp() {
    removeFromDesktop();

    colourSelector->removeAllChangeListeners();
    delete colourSelector;
    colourSelector = nullptr;

    // Another live panel keeps the slider look: the default passes to the newest survivor.
    auto& looks = liveLooks();
    looks.removeFirstMatchingValue(sliderLookAndFeel);
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == sliderLookAndFeel)
        juce::LookAndFeel::setDefaultLookAndFeel(looks.isEmpty() ? nullptr : looks.getLast());
    delete sliderLookAndFeel;
    sliderLookAndFeel = nullptr;

    delete bannerButton;
    bannerButton = nullptr;
    delete pluginLogo;
    pluginLogo = nullptr;
    // The framework stops, if this was its last user, after the component base is gone.
}

void PropPageComp::setChangeCallback(ChangeCallback callback, void* context) {
    changeCallback = callback;
    callbackContext = context;
}

void PropPageComp::setFilterProps(const FilterProps& newProps) {
    props = newProps;
    updateSelector();
}

void PropPageComp::updateSelector() {
    if (colourSelector != nullptr)
        colourSelector->setCurrentColour(
            juce::Colour(props.red, props.green, props.blue, props.alpha));
}

juce::URL PropPageComp::getMakerPage() {
    return juce::URL("https://tarnwell.example/velmora/");
}

PropPageComp::UrlLauncher PropPageComp::setUrlLauncher(UrlLauncher launcher) {
    UrlLauncher previous = urlLauncher;
    urlLauncher = launcher != nullptr ? launcher : launchInBrowser;
    return previous;
}

void PropPageComp::paint(juce::Graphics& g) {
    g.fillAll(backgroundColour);
}

void PropPageComp::resized() {
    if (colourSelector != nullptr)
        colourSelector->setBounds(0, 23, 200, 280);
}

void PropPageComp::changeListenerCallback(juce::ChangeBroadcaster* source) {
    auto* selector = dynamic_cast<cg::ColourSelector*>(source);
    if (selector == nullptr)
        return;
    const juce::Colour c = selector->getCurrentColour();
    props.alpha = c.getAlpha();
    props.red = c.getRed();
    props.green = c.getGreen();
    props.blue = c.getBlue();
    if (changeCallback != nullptr)
        changeCallback(callbackContext);
    repaint();
}

bool PropPageComp::keyPressed(const juce::KeyPress& key) {
    return keyCallback != nullptr && keyCallback(callbackContext, key.getKeyCode());
}

void PropPageComp::buttonClicked(juce::Button* button) {
    if (button == bannerButton)
        urlLauncher(getMakerPage());
}
