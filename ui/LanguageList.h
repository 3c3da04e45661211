#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The language chooser, and the choice screen's list of controllers in the same
    look: a combo box whose accessible title is its own title (the screen's
    "Language Selections", or its question, in the current language) and whose
    value is the chosen entry, where the framework's combo box reads its chosen
    text as both. Message thread, like every component.
*/
class LanguageList final : public juce::ComboBox
{
public:
    using juce::ComboBox::ComboBox;

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LanguageList)
};
