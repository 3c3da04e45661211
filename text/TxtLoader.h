#pragma once

#include "text/TxtTables.h"

#include <array>

/**
    The text catalogue: every text the user reads, in twelve languages.

    One process-wide object, created by the first getInstance(), which also detects
    which languages the machine supports and which one to start in (the user's own
    if the catalogue has it and the machine supports it, otherwise English).
    Selecting a language copies that language's entry of every message table; the
    texts are shared, reference-counted strings, so nothing is copied character by
    character.

    Message thread only: nothing here is locked.
*/
class TxtLoader
{
public:
    virtual ~TxtLoader();

    /** Returns the catalogue, creating it (and running the language detection) on the
        first call and after deleteInstance(). Never null. Message thread. */
    static TxtLoader* getInstance();

    /** Destroys the catalogue if there is one; the next getInstance() builds a fresh one
        and detects the language again. Message thread. */
    static void deleteInstance();

    /** The current language's text of a message. An id outside the catalogue's messages
        yields the empty text. */
    const juce::String& getText (TxtId id) const noexcept;

    /** The current language index, 0..11 (12 only inside a catalogue that has not
        applied a language yet, which getInstance() never hands out). */
    int getLanguage() const noexcept { return languageIndex; }

    /** Switches every text to another language. An index outside 0..11 changes nothing. */
    void setLanguage (int index);

    /** A language's own name ("Français", "日本語"), or the empty text for an index outside 0..11. */
    const juce::String& getLanguageName (int index) const noexcept;

    /** The name of the font a language is displayed in ("Verdana", "SimHei", "Batang",
        "MS PGothic"), or the empty text for an index outside 0..11. The platform's font
        resolution (FontResolvingLookAndFeel) turns these names into installed faces. */
    const juce::String& getFontName (int index) const noexcept;

    /** True when the machine supports the language (English always); false for an index
        outside 0..11. */
    bool isLanguageAvailable (int index) const noexcept;

    /** Marks the available languages from the system's installed locales and returns the
        language to start in, 0..11. Needs the instance pointer set, because the locale
        callback reaches the catalogue through it. Never fails: anything unknown yields
        English. */
    int detectSystemLanguage();

private:
    TxtLoader();

    /** The locale enumeration's callback: marks the language of one installed locale
        (given as eight hex digits) in the published catalogue. Returns 1 to go on. */
    static int localeEnumProc (const char* localeText);

    // The table copies, by operation number.
    enum
    {
        kLoadFontNames = 0,
        kLoadAltFontNames = 1,
        kLoadLanguageNames = 2,
        kLoadTexts = 3
    };

    /** Copies one static table into the catalogue; kLoadTexts needs languageIndex in 0..11. */
    void loadTable (int operation);

    static TxtLoader* instance;

    int32_t languageIndex = kLanguageCount;
    const juce::String emptyName;
    std::array<bool, kLanguageCount> available {};
    std::array<juce::String, kLanguageCount> fontNames;
    std::array<juce::String, kLanguageCount> languageNames;
    std::array<juce::String, kTextCount> texts;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TxtLoader)
};
