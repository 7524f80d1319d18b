#include "colour_selector.h"

#include "eye_dropper_dialog.h"
#include "eye_dropper_icon.h"

namespace cg {

namespace {

constexpr int markerSize = 14;
constexpr int swatchesPerRow = 8;
constexpr int swatchRowHeight = 22;
constexpr int sliderRowHeight = 22;
constexpr int previewRowHeight = 26;
constexpr int hueStripEdge = 6;

void fillChecks(juce::Graphics& g, juce::Rectangle<int> area, float checkSize, juce::Colour c) {
    g.fillCheckerBoard(area.toFloat(), checkSize, checkSize,
                       juce::Colour(0xffdddddd).overlaidWith(c),
                       juce::Colour(0xffffffff).overlaidWith(c));
}

} // namespace

//==============================================================================
ColourSpaceMarker::ColourSpaceMarker() {
    setInterceptsMouseClicks(false, false);
}

void ColourSpaceMarker::paint(juce::Graphics& g) {
    const float w = static_cast<float>(getWidth()), ht = static_cast<float>(getHeight());
    g.setColour(juce::Colour::greyLevel(0.1f));
    g.drawEllipse(1.0f, 1.0f, w - 2.0f, ht - 2.0f, 1.0f);
    g.setColour(juce::Colour::greyLevel(0.9f));
    g.drawEllipse(2.0f, 2.0f, w - 4.0f, ht - 4.0f, 1.0f);
}

HueSelectorMarker::HueSelectorMarker() {
    setInterceptsMouseClicks(false, false);
}

void HueSelectorMarker::paint(juce::Graphics& g) {
    const float w = static_cast<float>(getWidth()), ht = static_cast<float>(getHeight());
    juce::Path p;
    p.addTriangle(w - 1.0f, 1.0f, w * 0.7f, ht * 0.5f, w - 1.0f, ht - 1.0f);
    g.setColour(juce::Colours::white.withAlpha(0.75f));
    g.fillPath(p);
    g.setColour(juce::Colours::black.withAlpha(0.75f));
    g.strokePath(p, juce::PathStrokeType(1.2f));
}

//==============================================================================
ColourSelector::ColourSpaceView::ColourSpaceView(ColourSelector& ownerIn, float& hue, float& sat,
                                                 float& val, int edgeSize)
    : owner(ownerIn), h(hue), s(sat), v(val), lastHue(0.0f), edge(edgeSize) {
    addAndMakeVisible(marker);
    setMouseCursor(juce::MouseCursor::CrosshairCursor);
}

void ColourSelector::ColourSpaceView::updateIfNeeded() {
    if (lastHue != h) {
        lastHue = h;
        colours = juce::Image();
        repaint();
    }
    updateMarker();
}

void ColourSelector::ColourSpaceView::updateMarker() {
    marker.setBounds(juce::roundToInt(static_cast<float>(getWidth() - markerSize) * s),
                     juce::roundToInt(static_cast<float>(getHeight() - markerSize) * (1.0f - v)),
                     markerSize, markerSize);
}

void ColourSelector::ColourSpaceView::mouseDown(const juce::MouseEvent& e) {
    mouseDrag(e);
}

void ColourSelector::ColourSpaceView::mouseDrag(const juce::MouseEvent& e) {
    const int insetWidth = getWidth() - 2 * edge, insetHeight = getHeight() - 2 * edge;
    if (insetWidth <= 0 || insetHeight <= 0)
        return; // no inset area to map onto
    const float sat = static_cast<float>(e.x - edge) / static_cast<float>(insetWidth);
    const float val = 1.0f - static_cast<float>(e.y - edge) / static_cast<float>(insetHeight);
    owner.setSV(sat, val);
}

void ColourSelector::ColourSpaceView::paint(juce::Graphics& g) {
    const int width = getWidth() / 2, height = getHeight() / 2;
    if (width <= 0 || height <= 0)
        return;
    if (colours.isNull()) {
        colours = juce::Image(juce::Image::RGB, width, height, false);
        juce::Image::BitmapData pixels(colours, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < height; ++y) {
            const float val = 1.0f - static_cast<float>(y) / static_cast<float>(height);
            for (int x = 0; x < width; ++x) {
                const float sat = static_cast<float>(x) / static_cast<float>(width);
                pixels.setPixelColour(x, y, juce::Colour(h, sat, val, 1.0f));
            }
        }
    }
    g.setOpacity(1.0f);
    g.drawImage(colours, edge, edge, getWidth() - 2 * edge, getHeight() - 2 * edge, 0, 0,
                colours.getWidth(), colours.getHeight(), false);
}

void ColourSelector::ColourSpaceView::resized() {
    colours = juce::Image();
    updateMarker();
}

//==============================================================================
ColourSelector::HueSelectorComp::HueSelectorComp(ColourSelector& ownerIn, float& hue, float& sat,
                                                 float& val, int edgeSize)
    : owner(ownerIn), h(hue), s(sat), v(val), edge(edgeSize) {
    addAndMakeVisible(marker);
}

void ColourSelector::HueSelectorComp::mouseDown(const juce::MouseEvent& e) {
    mouseDrag(e);
}

void ColourSelector::HueSelectorComp::mouseDrag(const juce::MouseEvent& e) {
    const int insetHeight = getHeight() - 2 * edge;
    if (insetHeight <= 0)
        return;
    owner.setHue(static_cast<float>(e.y - edge) / static_cast<float>(insetHeight));
}

void ColourSelector::HueSelectorComp::paint(juce::Graphics& g) {
    const float yScale = 1.0f / static_cast<float>(getHeight() - 2 * edge);
    const juce::Rectangle<int> clip = g.getClipBounds();
    // Row by row, only inside the clip: the strip is repainted often and is mostly clipped.
    for (int y = juce::jmin(clip.getBottom(), getHeight() - edge) - 1;
         y >= juce::jmax(edge, clip.getY()); --y) {
        g.setColour(juce::Colour(static_cast<float>(y - edge) * yScale, 1.0f, 1.0f, 1.0f));
        g.fillRect(edge, y, getWidth() - 2 * edge, 1);
    }
}

void ColourSelector::HueSelectorComp::resized() {
    marker.setBounds(0, juce::roundToInt(static_cast<float>(getHeight() - 2 * edge) * h),
                     getWidth(), 2 * edge);
}

//==============================================================================
ColourSelector::SwatchComponent::SwatchComponent(ColourSelector& ownerIn, int indexIn)
    : owner(ownerIn), index(indexIn) {}

void ColourSelector::SwatchComponent::paint(juce::Graphics& g) {
    fillChecks(g, getLocalBounds(), 6.0f, owner.getSwatchColour(index));
}

void ColourSelector::SwatchComponent::mouseDown(const juce::MouseEvent&) {
    juce::PopupMenu menu;
    menu.addItem(1, TRANS("Use this swatch as the current colour"));
    menu.addSeparator();
    menu.addItem(2, TRANS("Set this swatch to the current colour"));

    // The menu's loop may run a layout that deletes this swatch.
    const juce::Component::SafePointer<SwatchComponent> self(this);
    const int result = menu.showAt(this);
    if (self == nullptr)
        return;

    if (result == 1) {
        owner.setCurrentColour(owner.getSwatchColour(index));
    } else if (result == 2) {
        const juce::Colour current = owner.getCurrentColour();
        if (owner.getSwatchColour(index) != current) {
            owner.setSwatchColour(index, current);
            repaint();
        }
    }
}

//==============================================================================
ColourSelector::ColourSelector(int flagsIn, int edgeGapIn, int)
    : colour(0xffffffff), h(0.0f), s(0.0f), v(0.0f), sliders{}, colourSpace(nullptr),
      hueSelector(nullptr), flags(flagsIn), edgeGap(edgeGapIn), eyeDropperButton(nullptr) {
    updateHSV();

    if ((flags & showSliders) != 0) {
        sliders[0] = new ColourComponentSlider(TRANS("Red"));
        sliders[1] = new ColourComponentSlider(TRANS("Green"));
        sliders[2] = new ColourComponentSlider(TRANS("Blue"));
        sliders[3] = new ColourComponentSlider(TRANS("Alpha"));
        addAndMakeVisible(sliders[0]);
        addAndMakeVisible(sliders[1]);
        addAndMakeVisible(sliders[2]);
        addChildComponent(sliders[3]);
        sliders[3]->setVisible((flags & showAlphaChannel) != 0);
        for (auto* slider : sliders)
            slider->addListener(this);
    }

    if ((flags & showColourspace) != 0) {
        colourSpace = new ColourSpaceView(*this, h, s, v, edgeGap);
        hueSelector = new HueSelectorComp(*this, h, s, v, hueStripEdge);
        addAndMakeVisible(colourSpace);
        addAndMakeVisible(hueSelector);
    }

    if ((flags & showEyeDropper) != 0 && juce::Desktop::canUseSemiTransparentWindows()) {
        const juce::Image icon =
            juce::ImageCache::getFromMemory(eyeDropperIcon, eyeDropperIconSize);
        eyeDropperButton = new juce::ImageButton("EyeDropper");
        eyeDropperButton->setImages(true, false, true, icon, 1.0f, juce::Colour(0x00000000), icon,
                                    1.0f, juce::Colour(0x00000000), icon, 1.0f,
                                    juce::Colour(0x00000000), 0.0f);
        eyeDropperButton->addListener(this);
        addAndMakeVisible(eyeDropperButton);
    }

    update();
}

ColourSelector::~ColourSelector() {
    dispatchPendingMessages();
    for (int i = swatchComponents.size(); --i >= 0;)
        delete swatchComponents.removeAndReturn(i);
    delete eyeDropperButton;
    delete hueSelector;
    delete colourSpace;
    for (auto* slider : sliders)
        delete slider;
}

juce::Colour ColourSelector::getCurrentColour() const {
    return (flags & showAlphaChannel) != 0 ? colour
                                           : colour.withAlpha(static_cast<juce::uint8>(0xff));
}

void ColourSelector::setCurrentColour(juce::Colour c) {
    if (c != colour) {
        colour = (flags & showAlphaChannel) != 0 ? c : c.withAlpha(static_cast<juce::uint8>(0xff));
        updateHSV();
        update();
    }
}

void ColourSelector::setHue(float newHue) {
    newHue = juce::jlimit(0.0f, 1.0f, newHue);
    if (h != newHue) {
        h = newHue;
        colour = juce::Colour(h, s, v, colour.getFloatAlpha());
        update();
    }
}

void ColourSelector::setSV(float newS, float newV) {
    newS = juce::jlimit(0.0f, 1.0f, newS);
    newV = juce::jlimit(0.0f, 1.0f, newV);
    if (s != newS || v != newV) {
        s = newS;
        v = newV;
        colour = juce::Colour(h, s, v, colour.getFloatAlpha());
        update();
    }
}

void ColourSelector::updateHSV() {
    colour.getHSB(h, s, v);
}

void ColourSelector::update() {
    if (sliders[0] != nullptr) {
        sliders[0]->setValue(colour.getRed(), juce::sendNotificationAsync);
        sliders[1]->setValue(colour.getGreen(), juce::sendNotificationAsync);
        sliders[2]->setValue(colour.getBlue(), juce::sendNotificationAsync);
        sliders[3]->setValue(colour.getAlpha(), juce::sendNotificationAsync);
    }
    if (colourSpace != nullptr) {
        colourSpace->updateIfNeeded();
        hueSelector->resized();
    }
    if ((flags & showColourPreview) != 0)
        repaint(previewArea);
    sendChangeMessage();
}

void ColourSelector::paint(juce::Graphics& g) {
    g.fillAll(findColour(backgroundColourId));

    if ((flags & showColourPreview) != 0) {
        fillChecks(g, previewArea, 10.0f, getCurrentColour());
        g.setColour(juce::Colours::black);
        g.drawRect(previewArea, 1);
    }

    if ((flags & showSliders) != 0) {
        g.setColour(findColour(labelTextColourId));
        g.setFont(juce::Font(13.0f));
        // Squeezed rather than cut off where a word is wider than its box in the font at hand.
        for (auto* slider : sliders) {
            if (slider->isVisible())
                g.drawFittedText(slider->getName(), edgeGap, slider->getY(), slider->getX() - 8,
                                 slider->getHeight(), juce::Justification::centredLeft, 1, 0.7f);
        }
    }
}

void ColourSelector::resized() {
    const int numSliders = (flags & showAlphaChannel) != 0 ? 4 : 3;
    const int numSwatches = getNumSwatches();
    const int swatchSpace =
        numSwatches > 0
            ? edgeGap + swatchRowHeight * ((numSwatches + swatchesPerRow - 1) / swatchesPerRow)
            : 0;
    const int sliderSpace = (flags & showSliders) != 0 ? edgeGap + sliderRowHeight * numSliders : 0;
    const int rowSpace = 2 * edgeGap + previewRowHeight;

    int y = edgeGap;
    if (colourSpace != nullptr) {
        const int hueWidth = juce::jmin(50, proportionOfWidth(0.15f));
        colourSpace->setBounds(edgeGap, edgeGap, getWidth() - edgeGap - hueWidth - 4,
                               getHeight() - 2 * edgeGap - rowSpace - sliderSpace - swatchSpace);
        hueSelector->setBounds(colourSpace->getRight() + 4, edgeGap,
                               getWidth() - (colourSpace->getRight() + 4),
                               colourSpace->getHeight());
        y = getHeight() - edgeGap - rowSpace - sliderSpace - swatchSpace;
    }

    // The preview row hangs off the colour space view; without one it starts at the margin.
    const juce::Rectangle<int> space = colourSpace != nullptr
                                           ? colourSpace->getBounds()
                                           : juce::Rectangle<int>(0, 0, getWidth(), 0);
    const int rowY = y + edgeGap;
    if (eyeDropperButton != nullptr)
        eyeDropperButton->setBounds(space.getRight() - edgeGap - previewRowHeight, rowY,
                                    previewRowHeight, previewRowHeight);
    previewArea.setBounds(space.getX() + edgeGap, rowY,
                          space.getRight() - 6 * edgeGap - previewRowHeight, previewRowHeight);
    y = rowY + previewRowHeight + edgeGap;

    if ((flags & showSliders) != 0) {
        y += edgeGap;
        const int sliderHeight = juce::jmax(4, sliderSpace / numSliders);
        for (int i = 0; i < numSliders; ++i) {
            sliders[i]->setBounds(proportionOfWidth(0.2f), y, proportionOfWidth(0.8f),
                                  sliderHeight - 2);
            y += sliderHeight;
        }
    }

    if (numSwatches > 0) {
        const int swatchWidth = (getWidth() - 16) / swatchesPerRow;
        y += edgeGap;
        if (swatchComponents.size() != numSwatches) {
            for (int i = swatchComponents.size(); --i >= 0;)
                delete swatchComponents.removeAndReturn(i);
            for (int i = 0; i < numSwatches; ++i) {
                auto* swatch = new SwatchComponent(*this, i);
                swatchComponents.add(swatch);
                addAndMakeVisible(swatch);
            }
        }
        int x = 8, rowTop = y + 2;
        for (int i = 0; i < swatchComponents.size(); ++i) {
            swatchComponents.getUnchecked(i)->setBounds(x + 2, rowTop, swatchWidth - 4, 18);
            if ((i + 1) % swatchesPerRow == 0) {
                x = 8;
                rowTop += swatchRowHeight;
            } else {
                x += swatchWidth;
            }
        }
    }
}

void ColourSelector::sliderValueChanged(juce::Slider*) {
    if (sliders[0] != nullptr)
        setCurrentColour(juce::Colour(static_cast<juce::uint8>(sliders[0]->getValue()),
                                      static_cast<juce::uint8>(sliders[1]->getValue()),
                                      static_cast<juce::uint8>(sliders[2]->getValue()),
                                      static_cast<juce::uint8>(sliders[3]->getValue())));
}

void ColourSelector::buttonClicked(juce::Button*) {
    if (!juce::Desktop::canUseSemiTransparentWindows())
        return;
    // The dialog's loop dispatches everything, including whatever may delete this selector.
    const juce::Component::SafePointer<ColourSelector> self(this);
    auto* dialog = new EyeDropperDialog();
    dialog->runModalLoop();
    const bool picked = dialog->colourPicked;
    const juce::Colour pickedColour = dialog->pickedColour;
    delete dialog;
    if (picked && self != nullptr)
        setCurrentColour(pickedColour);
}

int ColourSelector::getNumSwatches() const {
    return 0;
}

juce::Colour ColourSelector::getSwatchColour(int) const {
    return juce::Colour(0xff000000);
}

void ColourSelector::setSwatchColour(int, juce::Colour) {}

} // namespace cg
