#include "log/SupportLog.h"

#include "device/DeviceNodes.h"
#include "log/PlatformAdvice.h"
#include "platform/NativeFiles.h"
#include "platform/StandardErrorWriter.h"
#include "text/ExternalText.h"
#include "update/Status.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace
{
constexpr const char* kRegionNames[kRegionCount] = { "main", "extra", "info" };
constexpr int kStampDigits = 8;
constexpr int kAddressDigits = 6;
constexpr const char* kEndingPrefix = "exit status ";
// Room for the longest ending line; the exit statuses are single digits.
constexpr size_t kEndingLineSize = 128;
constexpr int kLargestOneDigitStatus = 9;

juce::String stampText (uint32_t stamp)
{
    return juce::String::toHexString ((juce::int64) stamp).paddedLeft ('0', kStampDigits);
}

juce::String regionText (int index, const UpdateRegion& region)
{
    return juce::String (kRegionNames[index]) + " at 0x"
           + juce::String::toHexString ((juce::int64) region.deviceAddress).toUpperCase().paddedLeft ('0', kAddressDigits)
           + ", " + juce::String (region.length) + " bytes";
}

juce::String joinPaths (const std::vector<juce::File>& files)
{
    juce::StringArray paths;

    for (const auto& file : files)
        paths.add (file.getFullPathName());

    return paths.joinIntoString (", ");
}

// What is wrong with a file whose check failed, in the words of the check.
juce::String fileProblem (int32_t error, const UpdateFileSearchReport& report, const UpdateFileState& state)
{
    switch (error)
    {
        case ERR_FILE_READ:
            return "cannot be read (not a regular file, or no permission to read it)";
        case ERR_FILE_SIZE:
        {
            // By the path's bytes: the text shown for a name that is not UTF-8 names no file.
            const auto path = report.chosenPath.empty() ? NativeFiles::bytesOf (report.chosen) : report.chosenPath;
            return "is " + juce::String (NativeFiles::sizeOf (path)) + " bytes, " + juce::String (kImageSize) + " expected";
        }
        case ERR_FILE_CONTENT:
            return isValidStamp (state.fileStamp) ? "its version text \"" + state.fileVersion + "\" is not a version"
                                                  : "its date stamp " + stampText (state.fileStamp) + " is not a date";
        case ERR_FILE_CRC:
            return "its CRC does not match its content (damaged or incomplete download)";
        case ERR_FILE_DIGEST:
            return "its SHA-256 " + state.fileSha256 + " is not the one given with --sha256 (another file than the maker published)";
        case ERR_PROTOCOL:
            return "vanished before it could be read";
        default:
            return "failed its check (error 0x" + formatErrorId (error) + ")";
    }
}
} // namespace

SupportLog::SupportLog()
    : SupportLog (writeToStandardError)
{
}

SupportLog::SupportLog (Sink newSink)
    : sink (std::move (newSink))
{
}

void SupportLog::writeToStandardError (const juce::String& line)
{
    StandardErrorWriter::write (line);
}

void SupportLog::write (const juce::String& line)
{
    // Names, versions and folders come from outside: one event stays one line,
    // and nothing in it reaches the terminal as a control sequence.
    if (sink != nullptr)
        sink (ExternalText::withControlsEscaped (line));
}

void SupportLog::reportAccessProblems()
{
    for (const auto& node : trbControllersWithoutAccess())
        write ("controller without access: " + ExternalText::fromBytes (node) + " is a TRB-Kelo7, but " + PlatformAdvice::controllerWithoutAccess());
}

void SupportLog::deviceLinkOpened (int32_t deviceNumber, const DeviceIdentity& identity)
{
    if (deviceNumber >= 0)
    {
        controllerArrived (deviceNumber, identity);
        return;
    }

    write ("controller not connected");
    reportAccessProblems();
}

void SupportLog::controllerArrived (int32_t deviceNumber, const DeviceIdentity& identity)
{
    controllerNodePath = trbDeviceNode (deviceNumber);
    controllerNode = ExternalText::fromBytes (controllerNodePath);
    holdersReported = false;
    controllerIdentity = identityText (identity);
    write ("controller connected: node " + controllerNode + controllerIdentity);
}

juce::String SupportLog::identityText (const DeviceIdentity& identity)
{
    juce::String text;

    if (identity.serial.isNotEmpty())
        text << ", serial " << identity.serial;

    if (identity.location.isNotEmpty())
        text << ", port " << identity.location;

    return text;
}

namespace
{
// "serial S, port P" of a controller that is not the held one, for a line of its own.
juce::String named (const DeviceIdentity& identity)
{
    const auto text = SupportLog::identityText (identity);
    return text.isNotEmpty() ? text.substring (2) : juce::String ("serial and port not known");
}
} // namespace

void SupportLog::controllersToChooseFrom (const std::vector<ConnectedController>& present)
{
    juce::StringArray listed;

    for (const auto& controller : present)
        listed.add (named (controller.identity));

    write ("controllers to choose from: " + listed.joinIntoString ("; "));
}

void SupportLog::claimRefused (const ClaimHolder& holder)
{
    juce::String by = holder.pid > 0 ? "process " + juce::String (holder.pid) : juce::String ("a process");

    if (holder.processName.isNotEmpty())
        by << " (" << holder.processName << ")";

    if (holder.user.isNotEmpty())
        by << ", user " << holder.user;

    write ("controller held elsewhere: " + named (holder.controller) + ", by " + by + "; nothing was sent");
}

void SupportLog::otherController (bool arrived, const DeviceIdentity& other)
{
    write (juce::String (arrived ? "another controller arrived: " : "another controller removed: ") + named (other)
           + " (the chosen one is unaffected)");
}

void SupportLog::controllerRemoved()
{
    write ("controller removed: node " + controllerNode);
}

void SupportLog::fileSearched (const UpdateFileSearchReport& report, const UpdateFileState& state)
{
    if (! report.error.has_value())
    {
        fileVersion = state.fileVersion;
        fileStamp = state.fileStamp;
        write ("update file taken: " + report.chosen.getFullPathName() + ", version " + state.fileVersion
               + ", date stamp " + stampText (state.fileStamp));
        return;
    }

    if (report.chosen != juce::File())
        write ("update file faulty: " + report.chosen.getFullPathName() + ": " + fileProblem (*report.error, report, state));
    else if (report.namedFile != juce::File())
        write ("update file not found: " + report.namedFile.getFullPathName() + " does not exist (named on the command line)");
    else
        write ("update file not found: searched " + joinPaths (report.searchedFolders));
}

void SupportLog::writeStarted()
{
    if (! started)
        write ("write started");

    started = true;
}

void SupportLog::controllerChecked (const juce::String& deviceVersion,
                                    uint32_t deviceStamp,
                                    const std::array<UpdateRegion, kRegionCount>& regions)
{
    write ("controller found: version " + deviceVersion + ", date stamp " + stampText (deviceStamp) + ", node " + controllerNode + controllerIdentity);

    juce::StringArray toWrite;

    for (int i = 0; i < kRegionCount; ++i)
        if (regions[(size_t) i].state == REGION_WRITE)
            toWrite.add (regionText (i, regions[(size_t) i]));

    write ("regions to write: " + toWrite.joinIntoString ("; "));
    reportOtherHolders();
}

void SupportLog::controllerAboutToBeAsked()
{
    if (controllerNodePath.empty())
        return;

    reportOtherHolders();
}

void SupportLog::reportOtherHolders()
{
    if (holderScan == nullptr || holdersReported)
        return;

    holdersReported = true;

    if (! otherDeviceHoldersCanBeFound())
    {
        write ("other programs that have the controller open: not known on this system");
        return;
    }

    juce::StringArray named;

    for (const auto& holder : holderScan (controllerNodePath))
        named.add ("process " + juce::String (holder.pid) + (holder.name.isEmpty() ? juce::String() : " (" + holder.name + ")"));

    if (! named.isEmpty())
        write ("controller also open in: " + named.joinIntoString (", "));
}

void SupportLog::regionWritten (int index, const UpdateRegion& region)
{
    write ("region written: " + regionText (index, region));
}

void SupportLog::updateEnded (int32_t result)
{
    // The result's own line comes from the session once the outcome is settled (after
    // the controller's word on a completed write); here only what explains it.
    if (result == ERR_NOT_CONNECTED)
        reportAccessProblems();
}

void SupportLog::writeConfirmed (const WriteConfirmation& confirmation)
{
    const auto reported = "version " + confirmation.deviceVersion + ", date stamp " + stampText (confirmation.deviceStamp);

    switch (confirmation.outcome)
    {
        case WriteConfirmation::Outcome::confirmed:
            write ("write confirmed: the controller reports " + reported);
            return;

        case WriteConfirmation::Outcome::mismatch:
            write ("write not taken: the controller reports " + reported + " instead of version " + fileVersion
                   + ", date stamp " + stampText (fileStamp)
                   + "; run the update again; if it still reports the old version, replug the controller and "
                     "run it again; else contact support");
            return;

        case WriteConfirmation::Outcome::noAnswer:
            write ("written, not confirmed (replug the controller to check)");
            return;

        case WriteConfirmation::Outcome::refused:
            write ("written, not confirmed: the controller refused the question (replug the controller to check)");
            return;
    }
}

void SupportLog::displayLost()
{
    write ("display lost: the connection to the X server broke");
}

void SupportLog::ending (int exitStatus, const char* meaning)
{
    write (kEndingPrefix + juce::String (exitStatus) + ": " + meaning);
    // The program ends next: the last lines are what a supporter reads first.
    StandardErrorWriter::flush (kLastLinesWaitMs);
}

void SupportLog::endingAtOnce (int exitStatus, const char* meaning) noexcept
{
    // Built by hand: a signal handler may not allocate or format.
    std::array<char, kEndingLineSize> text {};
    auto append = [&text, used = size_t { 0 }] (const char* part) mutable
    {
        const auto length = std::min (std::strlen (part), text.size() - 1 - used);
        std::memcpy (text.data() + used, part, length);
        used += length;
    };

    const std::array<char, 2> digit { (char) ('0' + juce::jlimit (0, kLargestOneDigitStatus, exitStatus)), 0 };
    append (kEndingPrefix);
    append (digit.data());
    append (": ");
    append (meaning);
    append ("\n");
    StandardErrorWriter::writeAtOnce (text.data());
}
