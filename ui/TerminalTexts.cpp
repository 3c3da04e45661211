#include "ui/TerminalTexts.h"

#include "text/ExternalText.h"
#include "text/FormatText.h"
#include "text/TxtLoader.h"
#include "ui/PlatformAdvice.h"
#include "update/Status.h"

namespace
{
constexpr const char* kRegionNames[kRegionCount] = { "main", "extra", "info" };
constexpr int kStampDigits = 8;
constexpr int kAddressDigits = 6;
constexpr int64_t kBytesPerKiB = 1024;

const juce::String& text (TxtId id)
{
    return TxtLoader::getInstance()->getText (id);
}

juce::String model()
{
    return text (TXT_MODEL);
}

// "Ver. %s.%02s": the digit before the point, then the two after it, as the window shows it.
juce::String versionText (TxtId id, const juce::String& version)
{
    return formatText (text (id), version.substring (0, 1), version.substring (2, 4));
}

juce::String escaped (const juce::String& outside)
{
    return ExternalText::withControlsEscaped (outside);
}
} // namespace

namespace TerminalTexts
{
juce::String stampText (uint32_t stamp)
{
    const auto digits = juce::String::toHexString ((juce::int64) stamp).paddedLeft ('0', kStampDigits);
    return digits.substring (0, 4) + "-" + digits.substring (4, 6) + "-" + digits.substring (6, 8);
}

juce::String regionName (int index)
{
    return index >= 0 && index < kRegionCount ? kRegionNames[index] : "?";
}

juce::String introduction()
{
    return formatText (text (TXT_UPDATE_INTRO), model());
}

juce::String controllerLine (const juce::String& version, uint32_t stamp)
{
    return escaped (versionText (TXT_CURRENT_VERSION, version) + " (" + stampText (stamp) + ")");
}

juce::String fileLine (const juce::String& version, uint32_t stamp, const juce::String& path)
{
    return escaped (versionText (TXT_UPDATE_VERSION, version) + " (" + stampText (stamp) + "), " + path);
}

juce::String regionsLine (const std::array<UpdateRegion, kRegionCount>& regions)
{
    juce::StringArray parts;

    for (int i = 0; i < kRegionCount; ++i)
    {
        const auto& region = regions[(size_t) i];

        if (region.state == REGION_WRITE)
            parts.add (regionName (i) + ", " + juce::String (region.length / kBytesPerKiB) + " KiB at 0x"
                       + juce::String::toHexString ((juce::int64) region.deviceAddress).toUpperCase().paddedLeft ('0', kAddressDigits));
    }

    return "To write: " + (parts.isEmpty() ? juce::String ("nothing") : parts.joinIntoString ("; "));
}

juce::String holdersLine (const std::vector<DeviceHolder>& holders)
{
    if (holders.empty())
        return {};

    juce::StringArray named;

    for (const auto& holder : holders)
        named.add ("process " + juce::String (holder.pid) + (holder.name.isEmpty() ? juce::String() : " (" + holder.name + ")"));

    return escaped ("Warning: the controller is also open in " + named.joinIntoString (", ")
                    + ". Close that program before the update: it may disturb the write.");
}

juce::String question()
{
    return "Start the update? [y/N] ";
}

bool isYes (const juce::String& answer)
{
    // The whole line is the answer: only blanks may surround the word. Any other
    // character, a control character (a tab, an escape sequence, a NUL read as
    // U+FFFD) included, leaves it no "yes".
    const auto word = answer.trimCharactersAtStart (" ").trimCharactersAtEnd (" ");
    return word.equalsIgnoreCase ("y") || word.equalsIgnoreCase ("yes");
}

juce::String noAnswerPossible (bool inputIsTerminal)
{
    return juce::String (inputIsTerminal ? "No answer (the input ended)" : "No answer can be read (standard input is not a terminal)")
           + ": nothing was written. Run it with --yes to update without the question.";
}

juce::String leftBeforeWrite()
{
    return "Nothing was written.";
}

juce::StringArray writing()
{
    return { formatText (text (TXT_UPDATING), model()), text (TXT_PLEASE_WAIT) };
}

juce::String interrupted()
{
    return "Stopped during the write: nothing more was sent. Run the updater again to finish the update.";
}

juce::StringArray result (int32_t status)
{
    if (status == ST_COMPLETE)
        return { formatText (text (TXT_UPDATE_COMPLETE), model()) };

    juce::StringArray lines;

    if (status == ERR_NOT_CONNECTED)
        lines.add (formatText (text (TXT_NOT_CONNECTED), model()));
    else if (isFileErrorStatus (status))
        lines.add (text (TXT_FILE_ERROR));
    else
        lines.addArray ({ text (TXT_ERROR_OCCURRED), text (TXT_UPDATE_FAILED) });

    lines.add ("Error ID: 0x" + formatErrorId (status));

    if (const auto what = remedy (status); what.isNotEmpty())
        lines.add ("What to do: " + what);

    return lines;
}

juce::String askingController()
{
    return "Written. Asking the controller for its version (it may restart first)...";
}

juce::String remedy (int32_t status)
{
    switch (status)
    {
        case ERR_FILE_NOT_FOUND:
            return "get the update file and put it where the updater looks, then run again.";
        case ERR_FILE_READ:
            return "check that you may read it, or get a new file.";
        case ERR_FILE_SIZE:
        case ERR_FILE_CONTENT:
        case ERR_FILE_CRC:
            return "get a new file.";
        case ERR_DEVICE_INFO:
        case ERR_REFUSED_1:
        case ERR_REFUSED_2:
        case ERR_REFUSED_3:
        case ERR_REFUSED_4:
            return "reconnect the controller and run again.";
        case ERR_NOT_CONNECTED:
            return PlatformAdvice::controllerNotFound();
        case ERR_FILE_OPEN:
            return "run again; if it persists, get a new file.";
        case ERR_TIMEOUT:
            return "reconnect it (directly, not through a hub) and run again.";
        case ERR_DEVICE_REMOVED:
            return "reconnect it and run again: the update starts over.";
        case ERR_PROTOCOL:
            return "reconnect the controller and run again; if it persists, get a new file.";
        default:
            return {};
    }
}

juce::String confirmation (const WriteConfirmation& answer, const juce::String& fileVersion, uint32_t fileStamp)
{
    switch (answer.outcome)
    {
        case WriteConfirmation::Outcome::confirmed:
            return escaped ("Confirmed: the controller now reports version " + answer.deviceVersion + " (" + stampText (answer.deviceStamp) + ").");
        case WriteConfirmation::Outcome::mismatch:
            return escaped ("Warning: the controller now reports version " + answer.deviceVersion + " (" + stampText (answer.deviceStamp)
                            + "), not the update's " + fileVersion + " (" + stampText (fileStamp)
                            + "): the update did not take. Run the update again; if it still reports the old version, replug the controller and run it again, else contact support.");
        case WriteConfirmation::Outcome::noAnswer:
            break;
    }

    return "Written, not confirmed (replug the controller to check).";
}
} // namespace TerminalTexts
