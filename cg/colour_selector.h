// The colour selector: saturation/brightness square with a hue strip, a preview box, an
// eyedropper button, channel sliders and optional swatches, broadcasting every colour change.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "colour_component_slider.h"

namespace cg {

// Double ring showing the current saturation and brightness; lets clicks through.
class ColourSpaceMarker : public juce::Component {
public:
    ColourSpaceMarker();
    void paint(juce::Graphics& g) override;
};

// Triangle at the hue strip's right edge, pointing at the current hue; lets clicks through.
class HueSelectorMarker : public juce::Component {
public:
    HueSelectorMarker();
    void paint(juce::Graphics& g) override;
};

class ColourSelector : public juce::Component,
                       public juce::ChangeBroadcaster,
                       public juce::Slider::Listener,
                       public juce::Button::Listener {
public:
    enum ColourSelectorOptions {
        showAlphaChannel = 1 << 0,
        showColourPreview = 1 << 1,
        showSliders = 1 << 2,
        showColourspace = 1 << 3,
        showEyeDropper = 1 << 4,
    };

    enum ColourIds {
        backgroundColourId = 0x1007000,
        labelTextColourId = 0x1007001,
    };

    class ColourSpaceView;
    class HueSelectorComp;
    class SwatchComponent;

    // The third value is accepted for the callers' sake and not used.
    ColourSelector(int flags, int edgeGap, int gapAroundColourSpaceComponent);
    ~ColourSelector() override;

    juce::Colour getCurrentColour() const;
    void setCurrentColour(juce::Colour newColour);

    // Called by the hue strip and the colour space view; values are clamped to 0..1.
    void setHue(float newHue);
    void setSV(float newSaturation, float newBrightness);

    float getHue() const { return h; }
    float getSaturation() const { return s; }
    float getBrightness() const { return v; }
    juce::Rectangle<int> getPreviewArea() const { return previewArea; }

    virtual int getNumSwatches() const;
    virtual juce::Colour getSwatchColour(int index) const;
    virtual void setSwatchColour(int index, juce::Colour newColour);

    void paint(juce::Graphics& g) override;
    void resized() override;
    void sliderValueChanged(juce::Slider* slider) override;
    void buttonClicked(juce::Button* button) override;

private:
    void updateHSV();
    void update();

    juce::Colour colour;
    float h, s, v;
    ColourComponentSlider* sliders[4];
    ColourSpaceView* colourSpace;
    HueSelectorComp* hueSelector;
    juce::Array<SwatchComponent*> swatchComponents;
    const int flags;
    int edgeGap;
    juce::Rectangle<int> previewArea;
    juce::ImageButton* eyeDropperButton;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ColourSelector)
};

class ColourSelector::ColourSpaceView : public juce::Component {
public:
    ColourSpaceView(ColourSelector& owner, float& h, float& s, float& v, int edgeSize);

    // Drops the cached image when the hue moved, then places the marker.
    void updateIfNeeded();
    void updateMarker();
    // The saturation/brightness image at half the view's size; null until painted.
    const juce::Image& getCachedImage() const { return colours; }

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;
    void resized() override;

private:
    ColourSelector& owner;
    float& h;
    float& s;
    float& v;
    float lastHue;
    ColourSpaceMarker marker;
    const int edge;
    juce::Image colours;

    JUCE_DECLARE_NON_COPYABLE(ColourSpaceView)
};

class ColourSelector::HueSelectorComp : public juce::Component {
public:
    HueSelectorComp(ColourSelector& owner, float& h, float& s, float& v, int edgeSize);

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;
    // Also follows a hue change: places the marker.
    void resized() override;

private:
    ColourSelector& owner;
    float& h;
    float& s;
    float& v;
    HueSelectorMarker marker;
    const int edge;

    JUCE_DECLARE_NON_COPYABLE(HueSelectorComp)
};

class ColourSelector::SwatchComponent : public juce::Component {
public:
    SwatchComponent(ColourSelector& owner, int index);

    // Offers, in a menu, to use the swatch or to store the current colour into it.
    void mouseDown(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;

private:
    ColourSelector& owner;
    const int index;

    JUCE_DECLARE_NON_COPYABLE(SwatchComponent)
};

} // namespace cg
