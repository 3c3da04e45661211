// Where MainComponent's controls and texts sit, and how it is painted.

#include "log/ScreenLog.h"
#include "resources/WarningIcon.h"
#include "ui/MainComponent.h"

namespace
{
constexpr float kTextMargin = 20.0f;
constexpr float kBodyIndent = 40.0f;
constexpr float kErrorTextLeft = 105.0f;
constexpr float kFontHeight = 13.0f;
constexpr float kLinesPerPixel = 0.07692308f; // one line per 13 pixels of frame height
constexpr float kMinimumHorizontalScale = 0.7f;

constexpr int kControlMargin = 20;
constexpr int kControlHeight = 20;
constexpr int kControlBottomOffset = 80;
constexpr int kButtonWidth = 100;
constexpr int kButtonBottomOffset = 40;
constexpr int kRightSlotOffset = 120;
constexpr int kLeftSlotOffset = 230;

const juce::Rectangle<int> kWarningIconArea { 20, 15, 64, 64 };

// The framework draws a tab with no width at all; the error line's tab is
// meant as a visible gap.
const juce::String kTabGap { "    " };

void addText (juce::GlyphArrangement& layout, const juce::String& screenText, const juce::Font& font, juce::Rectangle<float> frame)
{
    if (screenText.isEmpty())
        return;

    const auto text = screenText.replace ("\t", kTabGap);

    const auto maxLines = (int) (frame.getHeight() * kLinesPerPixel);
    layout.addFittedText (font, text, frame.getX(), frame.getY(), frame.getWidth(), frame.getHeight(),
                          juce::Justification::topLeft, maxLines, kMinimumHorizontalScale);
}
} // namespace

void MainComponent::layOutText (const Screen& screen, const juce::String& languageFont)
{
    const auto width = (float) getWidth();
    const auto height = (float) getHeight();
    const juce::Font plain (languageFont, kFontHeight, juce::Font::plain);
    const juce::Font bold (languageFont, kFontHeight, juce::Font::bold);

    textLayout.clear();

    if (screen.heading.isNotEmpty())
    {
        addText (textLayout, screen.heading, bold, { kTextMargin, kTextMargin, width - 2 * kTextMargin, height - kTextMargin });

        // The body starts at the bottom of the heading's last glyph. That glyph
        // is often a line break, whose box the framework reports as empty, so
        // its bottom is taken from the glyph itself. A heading that produced no
        // glyph (a window far too small) leaves the body at the top.
        auto bodyTop = kTextMargin;
        if (const auto count = textLayout.getNumGlyphs(); count > 0)
            bodyTop = textLayout.getGlyph (count - 1).getBottom();

        addText (textLayout, screen.body, plain, { kBodyIndent, bodyTop, width - kBodyIndent - kTextMargin, height - bodyTop });
    }

    addText (textLayout, screen.single, plain, { kTextMargin, kTextMargin, width - 2 * kTextMargin, height - kTextMargin });
    addText (textLayout, screen.errorText, plain, { kErrorTextLeft, kTextMargin, width - kErrorTextLeft - kTextMargin, height - kTextMargin });
}

void MainComponent::placeButtons()
{
    const auto width = getWidth();
    const auto y = getHeight() - kButtonBottomOffset;
    const juce::Rectangle<int> rightSlot { width - kRightSlotOffset, y, kButtonWidth, kControlHeight };
    const juce::Rectangle<int> leftSlot { width - kLeftSlotOffset, y, kButtonWidth, kControlHeight };

    if (okButton->isVisible())
    {
        okButton->setBounds (rightSlot);
        cancelButton->setBounds (leftSlot);
    }
    else
    {
        cancelButton->setBounds (rightSlot);
    }
}

void MainComponent::resized()
{
    updateDisplay();

    const juce::Rectangle<int> controlArea { kControlMargin, getHeight() - kControlBottomOffset, getWidth() - 2 * kControlMargin, kControlHeight };
    languageBox->setBounds (controlArea);
    controllerBox->setBounds (controlArea);
    progressBar->setBounds (controlArea);
    placeButtons();

    // updateDisplay logged the screen before the box and the bar had their new places.
    if (ScreenLog::isEnabled())
        logScreen (shownStatus(), screenFor (shownStatus()));
}

void MainComponent::parentHierarchyChanged()
{
    // The window that now holds the screen takes its title from the catalogue.
    updateDisplay();
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (kBackgroundColour));

    // The screen shown, not the procedure's status: a completed write the controller did
    // not take shows an error screen, icon and all.
    if (isErrorStatus (shownStatus()) || hasEndedBeforeAnyRequest())
    {
        const auto icon = getWarningIcon();
        g.drawImage (icon, kWarningIconArea.toFloat(), juce::RectanglePlacement::stretchToFit);
    }

    g.setColour (juce::Colour (kTextColour));
    textLayout.draw (g);

    giveDefaultFocus();
    ScreenLog::firstPaint();
}

void MainComponent::giveDefaultFocus()
{
    const auto statusValue = shownStatus();
    juce::Component* target = nullptr;
    juce::Array<juce::Component*> mayKeep;

    if (hasEndedBeforeAnyRequest())
    {
        target = cancelButton.get();
        mayKeep = { cancelButton.get() };
    }
    else if (choosing)
    {
        target = okButton.get();
        mayKeep = { controllerBox.get(), okButton.get(), cancelButton.get() };
    }
    else if (statusValue == ST_INITIAL)
    {
        target = okButton.get();
        mayKeep = { languageBox.get(), okButton.get(), cancelButton.get() };
    }
    else if (statusValue == ST_READY)
    {
        target = okButton.get();
        mayKeep = { okButton.get(), cancelButton.get() };
    }
    else if (statusValue == ST_COMPLETE)
    {
        target = okButton.get();
        mayKeep = { okButton.get() };
    }
    else if (isErrorStatus (statusValue))
    {
        target = cancelButton.get();
        mayKeep = { cancelButton.get() };
    }

    // X11 lets any window take the input focus: only a window that has it hands
    // it on, or every repaint would take the focus from the program in use.
    auto* peer = getPeer();

    if (target == nullptr || peer == nullptr || ! peer->isFocused())
        return;

    auto* focused = juce::Component::getCurrentlyFocusedComponent();

    for (auto* control : mayKeep)
        if (focused != nullptr && (focused == control || control->isParentOf (focused)))
            return;

    // The default control can take the focus only once the window is showing.
    if (target->isShowing())
        target->grabKeyboardFocus();
}
