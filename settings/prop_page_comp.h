// The settings panel: maker's banner, effect logo and the colour selector for the matte colour.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "cg/colour_selector.h"
#include "effect/filter_props.h"
#include "juce/gui_start.h"
#include "slider_look_and_feel.h"

using ChangeCallback = void (*)(void* context);
// A key the panel does not use itself (a juce::KeyPress code); true if someone took it.
using KeyCallback = bool (*)(void* context, int keyCode);

class PropPageComp : private velmora::GuiStart,
                     public juce::Component,
                     public juce::ChangeListener,
                     public juce::Button::Listener {
public:
    // Opens a web page; replaceable so that tests open no browser.
    using UrlLauncher = bool (*)(const juce::URL& url);

    // Builds the panel as a child native window of the given one (a top-level window if null).
    explicit PropPageComp(void* parentNativeWindow);
    ~PropPageComp() override;

    void setChangeCallback(ChangeCallback callback, void* context);
    void setKeyCallback(KeyCallback callback) { keyCallback = callback; }
    void setFilterProps(const FilterProps& newProps);
    const FilterProps& getFilterProps() const { return props; }
    void updateSelector();

    cg::ColourSelector* getColourSelector() const { return colourSelector; }

    static juce::URL getMakerPage();
    // Returns the launcher it replaces.
    static UrlLauncher setUrlLauncher(UrlLauncher launcher);

    void paint(juce::Graphics& g) override;
    void resized() override;
    void changeListenerCallback(juce::ChangeBroadcaster* source) override;
    void buttonClicked(juce::Button* button) override;
    bool keyPressed(const juce::KeyPress& key) override;

private:
    cg::ColourSelector* colourSelector;
    ChangeCallback changeCallback;
    KeyCallback keyCallback = nullptr;
    void* callbackContext;
    FilterProps props;
    juce::Colour backgroundColour;
    SliderLookAndFeel* sliderLookAndFeel;
    juce::ImageButton* bannerButton;
    juce::ImageButton* pluginLogo;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PropPageComp)
};
