#include "ui/JsonEventWriter.h"

#include "ui/TerminalTexts.h"
#include "update/Status.h"

#include <cmath>

namespace
{
constexpr int kStampDigits = 8;
constexpr int kPercent = 100;
constexpr double kMsPerSecond = 1000.0;
constexpr double kLeastFractionForEstimate = 0.01;

juce::String stampDigits (uint32_t stamp)
{
    return juce::String::toHexString ((juce::int64) stamp).paddedLeft ('0', kStampDigits);
}

juce::DynamicObject::Ptr object()
{
    return new juce::DynamicObject();
}
} // namespace

JsonEventWriter::JsonEventWriter (Sink newSink)
    : sink (std::move (newSink))
{
}

juce::String JsonEventWriter::errorId (int32_t status)
{
    return "0x" + formatErrorId (status);
}

void JsonEventWriter::write (const juce::String& event, juce::DynamicObject::Ptr fields)
{
    // "event" first, for a reader that looks at the start of the line.
    auto line = object();
    line->setProperty ("event", event);

    for (const auto& field : fields->getProperties())
        line->setProperty (field.name, field.value);

    if (sink != nullptr)
        sink (juce::JSON::toString (juce::var (line.get()), true));
}

void JsonEventWriter::found (const juce::String& version, uint32_t stamp, const juce::String& node)
{
    auto fields = object();
    fields->setProperty ("version", version);
    fields->setProperty ("stamp", stampDigits (stamp));
    fields->setProperty ("node", node);
    write ("found", fields);
}

void JsonEventWriter::file (const juce::String& path, const juce::String& version, uint32_t stamp, int32_t error)
{
    auto fields = object();
    fields->setProperty ("path", path);
    fields->setProperty ("version", version);
    fields->setProperty ("stamp", stampDigits (stamp));

    if (isErrorStatus (error))
        fields->setProperty ("error_id", errorId (error));

    write ("file", fields);
}

void JsonEventWriter::plan (const std::array<UpdateRegion, kRegionCount>& regions)
{
    juce::Array<juce::var> toWrite;
    int64_t total = 0;

    for (int i = 0; i < kRegionCount; ++i)
    {
        const auto& region = regions[(size_t) i];

        if (region.state != REGION_WRITE)
            continue;

        auto entry = object();
        entry->setProperty ("name", TerminalTexts::regionName (i));
        entry->setProperty ("address", (juce::int64) region.deviceAddress);
        entry->setProperty ("length", (juce::int64) region.length);
        toWrite.add (juce::var (entry.get()));
        total += region.length;
    }

    auto fields = object();
    fields->setProperty ("regions", toWrite);
    fields->setProperty ("total_bytes", (juce::int64) total);
    write ("plan", fields);
}

void JsonEventWriter::holders (const std::vector<std::pair<int, juce::String>>& processes)
{
    juce::Array<juce::var> list;

    for (const auto& [pid, name] : processes)
    {
        auto entry = object();
        entry->setProperty ("pid", pid);
        entry->setProperty ("name", name);
        list.add (juce::var (entry.get()));
    }

    auto fields = object();
    fields->setProperty ("processes", list);
    write ("holders", fields);
}

void JsonEventWriter::started()
{
    write ("started", object());
}

void JsonEventWriter::progress (double fraction, int64_t totalBytes, double elapsedMs)
{
    fraction = juce::jlimit (0.0, 1.0, fraction);
    const auto percent = (int) std::floor (fraction * kPercent);

    if (percent == lastPercent)
        return;

    lastPercent = percent;
    auto fields = object();
    fields->setProperty ("percent", percent);
    fields->setProperty ("bytes", (juce::int64) std::llround (fraction * (double) totalBytes));
    fields->setProperty ("total_bytes", (juce::int64) totalBytes);
    fields->setProperty ("elapsed_s", std::round (elapsedMs / kMsPerSecond * 10.0) / 10.0);
    fields->setProperty ("left_s", fraction >= kLeastFractionForEstimate
                                       ? juce::var (std::round (elapsedMs * (1.0 - fraction) / fraction / kMsPerSecond * 10.0) / 10.0)
                                       : juce::var());
    write ("progress", fields);
}

void JsonEventWriter::result (const juce::String& resultName, int32_t error, int exitStatus, const juce::String& message)
{
    auto fields = object();
    fields->setProperty ("result", resultName);
    fields->setProperty ("error_id", isErrorStatus (error) ? juce::var (errorId (error)) : juce::var());
    fields->setProperty ("exit_status", exitStatus);
    fields->setProperty ("message", message);
    write ("result", fields);
}

void JsonEventWriter::confirmation (const WriteConfirmation& answer)
{
    const auto answered = answer.outcome == WriteConfirmation::Outcome::confirmed
                          || answer.outcome == WriteConfirmation::Outcome::mismatch;
    auto fields = object();
    fields->setProperty ("outcome", answer.outcome == WriteConfirmation::Outcome::confirmed  ? "confirmed"
                                    : answer.outcome == WriteConfirmation::Outcome::mismatch ? "mismatch"
                                    : answer.outcome == WriteConfirmation::Outcome::refused  ? "refused"
                                                                                             : "no answer");
    fields->setProperty ("version", answered ? juce::var (answer.deviceVersion) : juce::var());
    fields->setProperty ("stamp", answered ? juce::var (stampDigits (answer.deviceStamp)) : juce::var());
    write ("confirmation", fields);
}
