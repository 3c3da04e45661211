#include "update/ControllerQuery.h"

#include "protocol/Reports.h"
#include "update/UpdateFile.h"

#include <algorithm>

namespace
{
constexpr uint8_t kErasedByte = 0xff;
} // namespace

juce::String infoVersionText (const InfoReply& info)
{
    const auto& bytes = info.versionBytes;
    // An interrupted update leaves the info part erased: no version at all.
    const bool erased = std::all_of (bytes.begin(), bytes.end(), [] (uint8_t b)
                                     { return b == kErasedByte; });
    return erased ? juce::String ("0.00") : versionTextFromBytes (bytes.data());
}

ControllerQuery::ControllerQuery (ControllerLink& controllerLink)
    : link (controllerLink)
{
}

ControllerQuery::~ControllerQuery()
{
    stopTimer();
}

void ControllerQuery::ask (int timeoutMs, Answered answered)
{
    stopTimer();
    pending = std::move (answered);

    // Whatever lay in the link's buffer came before this question.
    WireReport stale {};
    link.takeInput (stale.data());

    const auto request = infoQuery();

    if (! link.isConnected() || ! link.write (request.data()))
    {
        tell ({});
        return;
    }

    startTimer (timeoutMs);
}

void ControllerQuery::hidDeviceRemoved()
{
    tell ({});
}

void ControllerQuery::hidInputReceived (int)
{
    WireReport reply {};

    if (pending == nullptr || link.takeInput (reply.data()) < kReportSize)
        return;

    const auto head = readReply (reply.data());
    ControllerInfo info;

    if (head.command == CMD_CONTROL && head.code == REPLY_INFO)
    {
        const auto read = readInfoReply (reply.data());
        info.answered = true;
        info.stamp = read.stamp;
        info.version = infoVersionText (read);
    }

    tell (info);
}

void ControllerQuery::timerCallback()
{
    tell ({});
}

void ControllerQuery::tell (const ControllerInfo& info)
{
    stopTimer();

    if (pending == nullptr)
        return;

    // Cleared first: the answer may ask again.
    auto answered = std::move (pending);
    pending = nullptr;
    answered (info);
}
