#include "terminal/TerminalTexts.h"

#include "text/ExternalText.h"
#include "text/FormatText.h"
#include "text/TxtLoader.h"
#include "update/Status.h"

namespace
{
constexpr const char* kRegionNames[kRegionCount] = { "main", "extra", "info" };
constexpr int kStampDigits = 8;
constexpr int kAddressDigits = 6;
constexpr int64_t kBytesPerKiB = 1024;
constexpr int kMostChoiceDigits = 6; // more than any bus holds; longer answers are no number

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

// "another program (process 4242, djprogram, user dj)", with what is known of it.
juce::String holderText (const ClaimHolder& holder)
{
    juce::StringArray who;

    if (holder.pid > 0)
        who.add ("process " + juce::String (holder.pid));

    if (holder.processName.isNotEmpty())
        who.add (holder.processName);

    if (holder.user.isNotEmpty())
        who.add ("user " + holder.user);

    return "another program" + (who.isEmpty() ? juce::String() : " (" + who.joinIntoString (", ") + ")");
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

juce::String controllerLine (const juce::String& version, uint32_t stamp, const DeviceIdentity& identity)
{
    const auto which = identityText (identity);
    return escaped (versionText (TXT_CURRENT_VERSION, version) + " (" + stampText (stamp) + ")" + (which.isEmpty() ? juce::String() : ", " + which));
}

juce::String identityText (const DeviceIdentity& identity)
{
    if (identity == DeviceIdentity())
        return {};

    juce::StringArray parts;
    parts.add (identity.serial.isNotEmpty() ? "serial " + identity.serial : juce::String ("no serial"));

    if (identity.location.isNotEmpty())
        parts.add ("port " + identity.location);

    if (identity.node.isNotEmpty())
        parts.add ("node " + identity.node);

    return escaped (parts.joinIntoString (", "));
}

juce::String claimHeldLine (const ClaimHolder& holder)
{
    const auto which = identityText (holder.controller);
    return escaped (holderText (holder) + " holds the controller" + (which.isEmpty() ? juce::String() : " (" + which + ")")
                    + ": nothing was sent to it");
}

juce::String choiceHeading (size_t count)
{
    return juce::String ((int) count) + " TRB-Kelo7 controllers are connected; nothing is sent to any of them until one is chosen:";
}

juce::String choiceEntry (size_t number, const DeviceIdentity& identity)
{
    return "  " + juce::String ((int) number) + ". " + identityText (identity);
}

juce::String choiceQuestion (size_t count)
{
    return "Which controller to update? [1-" + juce::String ((int) count) + "] ";
}

size_t choiceNumber (const juce::String& answer, size_t count)
{
    // The whole line is the answer: digits with blanks around them, nothing else.
    const auto word = answer.trimCharactersAtStart (" ").trimCharactersAtEnd (" ");

    if (word.isEmpty() || word.length() > kMostChoiceDigits || ! word.containsOnly ("0123456789"))
        return 0;

    const auto number = (size_t) word.getLargeIntValue();
    return number >= 1 && number <= count ? number : 0;
}

juce::String listedLine (const DeviceIdentity& identity, const ControllerInfo& info, const ClaimHolder* heldBy)
{
    juce::String what;

    if (heldBy != nullptr)
        what = "not asked: " + holderText (*heldBy) + " holds it";
    else if (info.answered)
        what = "version " + info.version + " (" + stampText (info.stamp) + ")";
    else
        what = "did not tell its version";

    return escaped (identityText (identity) + ": " + what);
}

juce::String upToDateLine (const juce::String& version, uint32_t stamp)
{
    return escaped ("Up to date: the controller already holds the update file's version " + version + " (" + stampText (stamp)
                    + "); nothing would be written.");
}

juce::String fileLine (const juce::String& version, uint32_t stamp, const juce::String& path)
{
    return escaped (versionText (TXT_UPDATE_VERSION, version) + " (" + stampText (stamp) + "), " + path);
}

juce::String regionsLine (const std::array<UpdateRegion, kRegionCount>& regions, bool wouldWrite)
{
    juce::StringArray parts;

    for (int i = 0; i < kRegionCount; ++i)
    {
        const auto& region = regions[(size_t) i];

        if (region.state == REGION_WRITE)
            parts.add (regionName (i) + ", " + juce::String (region.length / kBytesPerKiB) + " KiB at 0x"
                       + juce::String::toHexString ((juce::int64) region.deviceAddress).toUpperCase().paddedLeft ('0', kAddressDigits));
    }

    return (wouldWrite ? "An update would write: " : "To write: ") + (parts.isEmpty() ? juce::String ("nothing") : parts.joinIntoString ("; "));
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

juce::StringArray writing()
{
    return { formatText (text (TXT_UPDATING), model()), text (TXT_PLEASE_WAIT) };
}

juce::StringArray result (const Outcome& outcome, const WriteConfirmation& answer, const juce::String& fileVersion, uint32_t fileStamp)
{
    juce::StringArray lines;
    const auto remedy = Outcomes::remedy (outcome);

    if (Outcomes::isComplete (outcome))
    {
        lines.add (formatText (text (outcome.message), model()));
        lines.add (confirmation (answer, fileVersion, fileStamp));
        return lines;
    }

    if (outcome.errorId == 0)
    {
        // An end without a screen of its own: the table's words, as sentences.
        const auto sentence = [] (const juce::String& words)
        { return words.substring (0, 1).toUpperCase() + words.substring (1) + "."; };
        lines.add (sentence (juce::String::fromUTF8 (outcome.whatHappened)) + (remedy.isNotEmpty() ? " " + sentence (remedy) : juce::String()));
        return lines;
    }

    // The controller's own word comes first when it is what failed.
    if (outcome.end == RunEnd::notTaken)
        lines.add (confirmation (answer, fileVersion, fileStamp));

    lines.add (formatText (text (outcome.message), model()));

    if (outcome.detail != TXT_EMPTY)
        lines.add (text (outcome.detail));

    lines.add ("Error ID: 0x" + formatErrorId (outcome.errorId));

    if (remedy.isNotEmpty())
        lines.add ("What to do: " + remedy + ".");

    return lines;
}

juce::String askingController()
{
    return "Written. Asking the controller for its version (it may restart first)...";
}

juce::String confirmation (const WriteConfirmation& answer, const juce::String& fileVersion, uint32_t fileStamp)
{
    switch (answer.outcome)
    {
        case WriteConfirmation::Outcome::confirmed:
            return escaped ("Confirmed: the controller now reports version " + answer.deviceVersion + " (" + stampText (answer.deviceStamp) + ").");
        case WriteConfirmation::Outcome::mismatch:
            return escaped ("Warning: the controller now reports version " + answer.deviceVersion + " (" + stampText (answer.deviceStamp)
                            + "), not the update's " + fileVersion + " (" + stampText (fileStamp) + "): the update did not take.");
        case WriteConfirmation::Outcome::refused:
            return "Written, not confirmed: the controller refused the question (replug the controller to check).";
        case WriteConfirmation::Outcome::noAnswer:
            break;
    }

    return "Written, not confirmed (replug the controller to check).";
}
} // namespace TerminalTexts
