#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

// The catalogue's constant data: twelve languages in a fixed order (the language
// chooser's item id is the index + 1), their own names, their display fonts and
// the messages. Every table holds one text per language, indexed by the language
// index. The first twenty texts are kept exactly as the product ships them,
// including their odd spacing and missing placeholders; the ones after them are
// the updater's own (the choice between several connected controllers, and the
// ends before the first request).

inline constexpr int kLanguageCount = 12;
inline constexpr int kTextCount = 26;

/** The English index: the language every detection falls back to. */
inline constexpr int kEnglish = 0;

/** The messages, numbered by their position in the catalogue's current texts. */
enum TxtId
{
    TXT_EMPTY = 0,
    TXT_FAMILY,
    TXT_MODEL,
    TXT_APP_TITLE,
    TXT_OK,
    TXT_START,
    TXT_CANCEL,
    TXT_CLOSE,
    TXT_LANGUAGE_TITLE,
    TXT_SELECT_LANGUAGE,
    TXT_FILE_ERROR,
    TXT_NOT_CONNECTED, // "%s": the model name
    TXT_UPDATE_INTRO, // "%s": the model name
    TXT_CURRENT_VERSION, // "%s.%02s": major and minor version
    TXT_UPDATE_VERSION, // "%s.%02s": major and minor version
    TXT_UPDATING, // "%s": the model name
    TXT_PLEASE_WAIT,
    TXT_UPDATE_COMPLETE, // "%s": the model name (not every language shows it)
    TXT_ERROR_OCCURRED,
    TXT_UPDATE_FAILED,
    TXT_SEVERAL_CONNECTED, // the choice screen's heading
    TXT_WHICH_CONTROLLER, // the choice screen's question
    TXT_CONTROLLER_ROW, // "%s", "%s": one controller's serial and port in the list
    TXT_SELECT, // the choice screen's button
    TXT_SERIAL_NOT_CONNECTED, // the end when the controller named with --serial is not there
    TXT_CONTROLLER_HELD // the end when another program holds the controller's claim
};

static_assert (TXT_CONTROLLER_HELD + 1 == kTextCount, "one table per message");

/** Each language's name written in that language, as the language chooser lists it. */
extern const juce::String kLanguageNames[kLanguageCount];

/** The font each language is displayed in (names of the Windows fonts the product was drawn with). */
extern const juce::String kWindowsFontNames[kLanguageCount];

/** Alternative font names for a platform without the Windows fonts; nothing selects them today. */
extern const juce::String kAltFontNames[kLanguageCount];

extern const juce::String kTextEmpty[kLanguageCount];
extern const juce::String kTextFamily[kLanguageCount];
extern const juce::String kTextModel[kLanguageCount];
extern const juce::String kTextAppTitle[kLanguageCount];
extern const juce::String kTextOk[kLanguageCount];
extern const juce::String kTextStart[kLanguageCount];
extern const juce::String kTextCancel[kLanguageCount];
extern const juce::String kTextClose[kLanguageCount];
extern const juce::String kTextLanguageTitle[kLanguageCount];
extern const juce::String kTextSelectLanguage[kLanguageCount];
extern const juce::String kTextFileError[kLanguageCount];
extern const juce::String kTextNotConnected[kLanguageCount];
extern const juce::String kTextUpdateIntro[kLanguageCount];
extern const juce::String kTextCurrentVersion[kLanguageCount];
extern const juce::String kTextUpdateVersion[kLanguageCount];
extern const juce::String kTextUpdating[kLanguageCount];
extern const juce::String kTextPleaseWait[kLanguageCount];
extern const juce::String kTextUpdateComplete[kLanguageCount];
extern const juce::String kTextErrorOccurred[kLanguageCount];
extern const juce::String kTextUpdateFailed[kLanguageCount];
extern const juce::String kTextSeveralConnected[kLanguageCount];
extern const juce::String kTextWhichController[kLanguageCount];
extern const juce::String kTextControllerRow[kLanguageCount];
extern const juce::String kTextSelect[kLanguageCount];
extern const juce::String kTextSerialNotConnected[kLanguageCount];
extern const juce::String kTextControllerHeld[kLanguageCount];

/** The message tables in TxtId order. */
extern const juce::String* const kTextTables[kTextCount];

/**
    One Windows language identifier per catalogue language (English US, French,
    German, Spanish traditional sort, Italian, Dutch, Russian, Portuguese (Portugal),
    Chinese PRC, Chinese Taiwan, Korean, Japanese). The low byte is what the
    language detection compares; both Chinese languages share 0x04.
*/
extern const uint16_t kLanguageIds[kLanguageCount];
