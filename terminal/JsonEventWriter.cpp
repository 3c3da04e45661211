#include "terminal/JsonEventWriter.h"

#include "terminal/TerminalTexts.h"
#include "text/ExternalText.h"
#include "update/Status.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace
{
using Json = nlohmann::ordered_json; // keeps the fields in the order they are set: "event" first

constexpr int kStampDigits = 8;
constexpr int kPercent = 100;
constexpr double kMsPerSecond = 1000.0;
constexpr double kLeastFractionForEstimate = 0.01;
constexpr int kOneLine = -1; // nlohmann's indent for "no line breaks"

std::string stampDigits (uint32_t stamp)
{
    return juce::String::toHexString ((juce::int64) stamp).paddedLeft ('0', kStampDigits).toStdString();
}

// Text for a JSON string: a folder name, a process's name or a version may hold
// bytes that are not UTF-8, which no JSON string may carry; they become U+FFFD
// as everywhere else in the program.
std::string utf8 (const juce::String& text)
{
    return ExternalText::fromBytes (text.toRawUTF8(), text.getNumBytesAsUTF8()).toStdString();
}

// A text that may not be known (a controller without a serial): null rather than "".
Json textOrNull (const juce::String& text)
{
    return text.isNotEmpty() ? Json (utf8 (text)) : Json();
}

// One line with a blank after each ':' and ',' as the events have always been written;
// the library writes the strings (every control character escaped, RFC 8259) and numbers.
void writeLine (std::string& out, const Json& value)
{
    const auto writeSeparated = [&out] (const auto& items, auto&& writeItem)
    {
        bool first = true;

        for (auto item = items.begin(); item != items.end(); ++item)
        {
            out += first ? "" : ", ";
            first = false;
            writeItem (item);
        }
    };

    if (value.is_object())
    {
        out += '{';
        writeSeparated (value, [&] (const auto& item)
                        {
                            out += Json (item.key()).dump (kOneLine, ' ', false, Json::error_handler_t::replace);
                            out += ": ";
                            writeLine (out, item.value()); });
        out += '}';
        return;
    }

    if (value.is_array())
    {
        out += '[';
        writeSeparated (value, [&] (const auto& item)
                        { writeLine (out, *item); });
        out += ']';
        return;
    }

    out += value.dump (kOneLine, ' ', false, Json::error_handler_t::replace);
}
} // namespace

// An event's fields, in their order; kept out of the header so that the JSON
// library stays a detail of this file.
struct JsonEventWriter::Fields
{
    Json object = Json::object();
};

JsonEventWriter::JsonEventWriter (Sink newSink)
    : sink (std::move (newSink))
{
}

juce::String JsonEventWriter::errorId (int32_t status)
{
    return "0x" + formatErrorId (status);
}

void JsonEventWriter::write (const juce::String& event, const Fields& fields)
{
    // "event" first, for a reader that looks at the start of the line.
    Json line = Json::object();
    line["event"] = utf8 (event);

    for (const auto& field : fields.object.items())
        line[field.key()] = field.value();

    std::string text;
    writeLine (text, line);

    if (sink != nullptr)
        sink (juce::String::fromUTF8 (text.data(), (int) text.size()));
}

void JsonEventWriter::found (const juce::String& version, uint32_t stamp, const juce::String& node, const juce::String& serial,
                             const juce::String& port)
{
    Fields fields;
    fields.object["version"] = utf8 (version);
    fields.object["stamp"] = stampDigits (stamp);
    fields.object["node"] = utf8 (node);
    fields.object["serial"] = textOrNull (serial);
    fields.object["port"] = textOrNull (port);
    write ("found", fields);
}

void JsonEventWriter::controller (int number, const DeviceIdentity& identity, const ControllerInfo* info, const ClaimHolder* heldBy)
{
    Fields fields;

    if (number > 0)
        fields.object["number"] = number;

    fields.object["serial"] = textOrNull (identity.serial);
    fields.object["port"] = textOrNull (identity.location);
    fields.object["node"] = textOrNull (identity.node);

    if (heldBy != nullptr)
    {
        Json holder = Json::object();
        holder["pid"] = heldBy->pid > 0 ? Json (heldBy->pid) : Json();
        holder["name"] = textOrNull (heldBy->processName);
        holder["user"] = textOrNull (heldBy->user);
        fields.object["held_by"] = std::move (holder);
    }
    else if (info != nullptr)
    {
        fields.object["version"] = info->answered ? Json (utf8 (info->version)) : Json();
        fields.object["stamp"] = info->answered ? Json (stampDigits (info->stamp)) : Json();
    }

    write ("controller", fields);
}

void JsonEventWriter::file (const juce::String& path, const juce::String& version, uint32_t stamp, int32_t error, const juce::String& sha256)
{
    Fields fields;
    fields.object["path"] = utf8 (path);
    fields.object["version"] = utf8 (version);
    fields.object["stamp"] = stampDigits (stamp);

    if (sha256.isNotEmpty())
        fields.object["sha256"] = sha256.toStdString();

    if (isErrorStatus (error))
        fields.object["error_id"] = errorId (error).toStdString();

    write ("file", fields);
}

void JsonEventWriter::plan (const std::array<UpdateRegion, kRegionCount>& regions, bool upToDate)
{
    Json toWrite = Json::array();
    int64_t total = 0;

    for (int i = 0; i < kRegionCount; ++i)
    {
        const auto& region = regions[(size_t) i];

        if (region.state != REGION_WRITE)
            continue;

        Json entry = Json::object();
        entry["name"] = utf8 (TerminalTexts::regionName (i));
        entry["address"] = (int64_t) region.deviceAddress;
        entry["length"] = (int64_t) region.length;
        toWrite.push_back (std::move (entry));
        total += region.length;
    }

    Fields fields;
    fields.object["regions"] = std::move (toWrite);
    fields.object["total_bytes"] = total;
    fields.object["up_to_date"] = upToDate;
    write ("plan", fields);
}

void JsonEventWriter::holders (const std::vector<std::pair<int, juce::String>>& processes)
{
    Json list = Json::array();

    for (const auto& [pid, name] : processes)
    {
        Json entry = Json::object();
        entry["pid"] = pid;
        entry["name"] = utf8 (name);
        list.push_back (std::move (entry));
    }

    Fields fields;
    fields.object["processes"] = std::move (list);
    write ("holders", fields);
}

void JsonEventWriter::started()
{
    write ("started", {});
}

void JsonEventWriter::progress (double fraction, int64_t totalBytes, double elapsedMs)
{
    fraction = juce::jlimit (0.0, 1.0, fraction);
    const auto percent = (int) std::floor (fraction * kPercent);

    if (percent == lastPercent)
        return;

    lastPercent = percent;
    Fields fields;
    fields.object["percent"] = percent;
    fields.object["bytes"] = (int64_t) std::llround (fraction * (double) totalBytes);
    fields.object["total_bytes"] = totalBytes;
    fields.object["elapsed_s"] = std::round (elapsedMs / kMsPerSecond * 10.0) / 10.0;
    fields.object["left_s"] = fraction >= kLeastFractionForEstimate
                                  ? Json (std::round (elapsedMs * (1.0 - fraction) / fraction / kMsPerSecond * 10.0) / 10.0)
                                  : Json();
    write ("progress", fields);
}

void JsonEventWriter::result (const juce::String& resultName, int32_t error, int exitStatus, const juce::String& message)
{
    Fields fields;
    fields.object["result"] = utf8 (resultName);
    fields.object["error_id"] = isErrorStatus (error) ? Json (errorId (error).toStdString()) : Json();
    fields.object["exit_status"] = exitStatus;
    fields.object["message"] = utf8 (message);
    write ("result", fields);
}

void JsonEventWriter::confirmation (const WriteConfirmation& answer)
{
    const auto answered = answer.outcome == WriteConfirmation::Outcome::confirmed
                          || answer.outcome == WriteConfirmation::Outcome::mismatch;
    Fields fields;
    fields.object["outcome"] = answer.outcome == WriteConfirmation::Outcome::confirmed  ? "confirmed"
                               : answer.outcome == WriteConfirmation::Outcome::mismatch ? "mismatch"
                               : answer.outcome == WriteConfirmation::Outcome::refused  ? "refused"
                                                                                        : "no answer";
    fields.object["version"] = answered ? Json (utf8 (answer.deviceVersion)) : Json();
    fields.object["stamp"] = answered ? Json (stampDigits (answer.deviceStamp)) : Json();
    write ("confirmation", fields);
}
