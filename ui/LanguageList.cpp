#include "ui/LanguageList.h"

namespace
{
// The chosen language, read-only: the list is changed through its popup.
class ChosenLanguage final : public juce::AccessibilityTextValueInterface
{
public:
    explicit ChosenLanguage (juce::ComboBox& listToRead)
        : list (listToRead)
    {
    }

    bool isReadOnly() const override { return true; }
    juce::String getCurrentValueAsString() const override { return list.getText(); }
    void setValueAsString (const juce::String&) override { }

private:
    juce::ComboBox& list;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChosenLanguage)
};

class LanguageListHandler final : public juce::AccessibilityHandler
{
public:
    explicit LanguageListHandler (juce::ComboBox& listToWrap)
        : juce::AccessibilityHandler (listToWrap,
                                      juce::AccessibilityRole::comboBox,
                                      juce::AccessibilityActions()
                                          .addAction (juce::AccessibilityActionType::press, [&listToWrap]
                                                      { listToWrap.showPopup(); })
                                          .addAction (juce::AccessibilityActionType::showMenu, [&listToWrap]
                                                      { listToWrap.showPopup(); }),
                                      { std::make_unique<ChosenLanguage> (listToWrap) })
        , list (listToWrap)
    {
    }

    juce::AccessibleState getCurrentState() const override
    {
        const auto state = juce::AccessibilityHandler::getCurrentState().withExpandable();
        return list.isPopupActive() ? state.withExpanded() : state.withCollapsed();
    }

    // Without a title of its own the list is named by its choice, as before.
    juce::String getTitle() const override { return list.getTitle().isNotEmpty() ? list.getTitle() : list.getText(); }
    juce::String getHelp() const override { return list.getTooltip(); }

private:
    juce::ComboBox& list;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LanguageListHandler)
};
} // namespace

std::unique_ptr<juce::AccessibilityHandler> LanguageList::createAccessibilityHandler()
{
    return std::make_unique<LanguageListHandler> (*this);
}
