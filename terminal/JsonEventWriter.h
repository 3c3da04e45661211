#pragma once

#include "device/DeviceIdentity.h"
#include "update/ControllerQuery.h"
#include "update/UpdateListener.h"

#include <juce_core/juce_core.h>

#include <functional>

/**
    The terminal front-end's events for a script (--json): one JSON object per line,
    each with an "event" field naming it. The fields are listed in the README; a
    field is never renamed or given another type, so scripts may rely on them.

        found         version, stamp ("YYYYMMDD"), node, serial, port (null when not known)
        controller    number (in a choice), serial, port, node; in a listing also version and
                      stamp (null when it did not tell), or held_by: { pid, name, user } instead
        file          path, version, stamp; error_id ("0x0E04") when the file failed its check
        plan          regions: [{ name, address, length }], total_bytes, up_to_date
        holders       processes: [{ pid, name }]  (other programs with the controller open)
        started
        progress      percent, bytes, total_bytes, elapsed_s, left_s (null until it can be told)
        confirmation  outcome ("confirmed", "mismatch", "no answer"), version, stamp (null without an answer)
        result        result ("complete", "not taken", "error", "left", "interrupted"), error_id
                      (or null), exit_status, message: the last line of every run that got this far

    Every line is JSON that any parser reads (RFC 8259): each control character
    in a string is escaped, and text that is not UTF-8 (a folder's name, a
    process's name, the version a controller reports) has its stray bytes
    replaced by U+FFFD, as ExternalText does.

    Message thread; writing goes through the sink, which must not block.
*/
class JsonEventWriter final
{
public:
    using Sink = std::function<void (const juce::String& line)>;

    /** A writer that hands each line (without its line end) to sink. */
    explicit JsonEventWriter (Sink sink);

    void found (const juce::String& version, uint32_t stamp, const juce::String& node, const juce::String& serial = {},
                const juce::String& port = {});

    /** One connected controller: in a choice, with its number (from 1; 0 leaves it out) and
        neither info nor heldBy; in a listing, with what it said (info) or who holds its claim
        (heldBy, then it was not asked). */
    void controller (int number, const DeviceIdentity& identity, const ControllerInfo* info, const ClaimHolder* heldBy);
    /** sha256: the file's digest (lower-case hex) when it was read, else empty (then not told). */
    void file (const juce::String& path, const juce::String& version, uint32_t stamp, int32_t error, const juce::String& sha256);
    /** upToDate: the controller holds the file's version and stamp already (told by --check). */
    void plan (const std::array<UpdateRegion, kRegionCount>& regions, bool upToDate = false);
    void holders (const std::vector<std::pair<int, juce::String>>& processes);
    void started();

    /** A progress event when the whole percent changed since the last one (the end always). */
    void progress (double fraction, int64_t totalBytes, double elapsedMs);

    void result (const juce::String& result, int32_t error, int exitStatus, const juce::String& message);
    void confirmation (const WriteConfirmation& confirmation);

    /** The error ID as the JSON carries it ("0x0E04"). Any thread. */
    static juce::String errorId (int32_t status);

private:
    struct Fields;
    void write (const juce::String& event, const Fields& fields);

    Sink sink;
    int lastPercent = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JsonEventWriter)
};
