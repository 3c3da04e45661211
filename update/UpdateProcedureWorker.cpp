// The update procedure's worker thread: it checks the controller, then writes the
// scheduled regions block by block, each block as a header, 62-byte data pieces,
// a byte sum and polls until the controller reports it written. Every block comes
// from the image that passed the file checks; the file is not read again.

#include "protocol/Reports.h"
#include "update/ControllerQuery.h"
#include "update/UpdateProcedure.h"

#include <cmath>
#include <cstring>

namespace
{
int32_t refusalStatus (uint8_t reason, std::initializer_list<uint8_t> allowedReasons) noexcept
{
    static constexpr int32_t kRefusalStatus[] = { ERR_PROTOCOL, ERR_REFUSED_1, ERR_REFUSED_2, ERR_REFUSED_3, ERR_REFUSED_4 };

    for (auto allowed : allowedReasons)
        if (reason == allowed && reason < std::size (kRefusalStatus))
            return kRefusalStatus[reason];

    return ERR_PROTOCOL;
}

// The date stamp of a controller whose info region is erased, as an update that
// was cut off after its prepare request leaves it. It is no date at all.
constexpr uint32_t kErasedStamp = 0xFFFFFFFF;

constexpr int kWaitUntilWoken = -1;
constexpr double kNotBusy = -1.0;
constexpr double kProgressSteps = 1000.0;

// The bytes sent before the current block: the regions written before this one and
// this region's earlier blocks. Counted, not summed up from the published progress,
// so the progress neither drifts from the bytes sent nor overshoots 1.0.
int64_t bytesBeforeBlock (const std::array<UpdateRegion, kRegionCount>& regions, int32_t regionIndex, int32_t blockStart) noexcept
{
    int64_t bytes = blockStart;

    for (int32_t i = 0; i < regionIndex; ++i)
        if (regions[(size_t) i].state == REGION_WRITE)
            bytes += regions[(size_t) i].length;

    return bytes;
}
} // namespace

uint32_t UpdateProcedure::byteSum (const uint8_t* bytes, size_t count) noexcept
{
    uint32_t sum = 0;

    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];

    return sum;
}

void UpdateProcedure::run()
{
    int interval = kStepIntervalMs;

    while (! threadShouldExit())
    {
        triggerAsyncUpdate();

        // Nothing happens on the ready screen until "Start", a removal or a close,
        // and each of them wakes the worker: it sleeps until then rather than
        // passing through the loop (and telling the listeners) every millisecond.
        wait (status.get() == ST_READY ? kWaitUntilWoken : interval);
        currentRegion = regionIndex;

        switch (status.get())
        {
            case ST_INITIAL:
                if (queryStatus() && sumPendingLengths())
                    status.set (ST_READY);
                break;

            case ST_READY:
                break;

            case ST_PREPARE:
                sendPrepare();
                break;

            case ST_BLOCK_HEADER:
                sendBlockHeader();
                break;

            case ST_BLOCK_DATA:
                transferBlock();
                break;

            case ST_BLOCK_CHECKSUM:
                if (mayGoOn())
                    sendChecksum();
                if (status.get() == ST_BLOCK_WAIT)
                    interval = pollIntervalMs;
                break;

            case ST_BLOCK_WAIT:
                pollBlock (interval);
                break;

            default:
                status.set (ERR_PROTOCOL);
                break;
        }

        const auto now = status.get();

        if (now == ST_COMPLETE)
        {
            finishUpdate();
            confirmWrite();
            signalThreadShouldExit();
        }
        else if (isErrorStatus (now))
        {
            triggerAsyncUpdate();
            signalThreadShouldExit();
        }
    }
}

void UpdateProcedure::publishProgress (double value) noexcept
{
    const auto previous = workerProgress.exchange (value);

    // A block takes thousands of exchanges; the listeners hear of each thousandth
    // of the whole rather than only once per block.
    if ((int) (value * kProgressSteps) != (int) (previous * kProgressSteps))
        triggerAsyncUpdate();
}

bool UpdateProcedure::mayGoOn() const
{
    return ! threadShouldExit() && ! isErrorStatus (status.get());
}

bool UpdateProcedure::sendAndWait()
{
    // Whatever signalled the event before this request must not pass for its
    // reply. A close or a removal that signalled meanwhile is seen by the check
    // that follows, because both set the exit flag or the status before they signal.
    replyEvent.reset();

    // After a close, a removal or an error the controller is sent nothing more.
    if (! mayGoOn())
        return true;

    // A controller removed during the check can answer nothing: its query has no reply.
    if (removedDuringCheck.load())
        return false;

    {
        const juce::ScopedLock sl (replyLock);
        awaitingReply = true;
    }

    link.write (outReport.data());

    const auto replied = replyEvent.wait (replyTimeoutRule != nullptr ? replyTimeoutRule (outReport.data()) : replyTimeoutMs);

    {
        const juce::ScopedLock sl (replyLock);
        awaitingReply = false;
        reply = inReport;
    }

    if (! replied || removedDuringCheck.load())
        return false;

    if (! mayGoOn())
        return true;

    const auto head = readReply (reply.data());

    if (head.command != outReport[kOffsetCommand] || head.isProtocolRefusal())
        status.set (ERR_PROTOCOL);

    return true;
}

bool UpdateProcedure::exchange()
{
    if (! sendAndWait())
    {
        status.set (ERR_TIMEOUT);
        return false;
    }

    return mayGoOn();
}

bool UpdateProcedure::queryStatus()
{
    outReport = statusQuery();

    if (! exchange())
        return false;

    switch (replyCode())
    {
        case REPLY_OK:
            return file.fileState == FILE_READY ? queryInfo() : true;

        case REPLY_REFUSED:
            status.set (refusalStatus (replyReason(), { 1, 2, 3, 4 }));
            return false;

        default:
            status.set (ERR_PROTOCOL);
            return false;
    }
}

bool UpdateProcedure::queryInfo()
{
    outReport = infoQuery();

    if (! exchange())
        return false;

    if (replyCode() != REPLY_INFO)
    {
        status.set (ERR_PROTOCOL);
        return false;
    }

    const auto info = readInfoReply (reply.data());
    deviceStamp = info.stamp;

    // An erased stamp is what an interrupted update leaves behind: the controller
    // has no date, so it gets everything (it can never equal a valid file stamp).
    // Refusing it would leave a controller that no run could ever update again.
    const bool noStamp = deviceStamp == kErasedStamp;

    if (! noStamp && ! isValidStamp (deviceStamp))
    {
        status.set (ERR_DEVICE_INFO);
        return false;
    }

    auto& mainRegion = file.regions[REGION_MAIN];

    if (! noStamp && deviceStamp == file.fileStamp)
    {
        mainRegion.state = REGION_SKIP;
        file.regions[REGION_INFO].length = kInfoPartialLength;
    }
    else
    {
        mainRegion.state = REGION_WRITE;
    }

    deviceVersion = infoVersionText (info);

    // A controller whose version text is not a version cannot be checked: say so
    // rather than carry on as if the check had passed.
    if (! isValidVersionText (deviceVersion))
    {
        status.set (ERR_DEVICE_INFO);
        return false;
    }

    file.regions[REGION_EXTRA].state = REGION_WRITE;
    file.regions[REGION_INFO].state = REGION_WRITE;
    return true;
}

bool UpdateProcedure::sumPendingLengths()
{
    for (auto& region : file.regions)
        if (region.state == REGION_WRITE)
            totalBytes += region.length;

    if (totalBytes > 0)
        return true;

    status.set (ERR_PROTOCOL);
    return false;
}

void UpdateProcedure::sendPrepare()
{
    regionIndex = 0;

    while (regionIndex < kRegionCount && file.regions[(size_t) regionIndex].state != REGION_WRITE)
        ++regionIndex;

    if (regionIndex >= kRegionCount)
    {
        status.set (ERR_PROTOCOL);
        return;
    }

    currentRegion = regionIndex;

    if (regionIndex == REGION_MAIN)
        fullUpdate = true;

    outReport = prepareRequest (regionIndex);

    if (! exchange())
        return;

    status.set (replyCode() == REPLY_OK ? ST_BLOCK_HEADER : ERR_PROTOCOL);
}

int64_t UpdateProcedure::currentBlockLength() const noexcept
{
    const auto& region = file.regions[(size_t) regionIndex];
    return std::min<int64_t> (region.length - regionDone, kBlockSize);
}

void UpdateProcedure::sendBlockHeader()
{
    if (regionIndex >= kRegionCount)
    {
        status.set (ST_COMPLETE);
        return;
    }

    const auto& region = file.regions[(size_t) regionIndex];

    if (region.state != REGION_WRITE)
    {
        ++regionIndex;
        currentRegion = regionIndex;
        return;
    }

    outReport = headerRequest (region.command, (uint32_t) (region.deviceAddress + regionDone), (uint32_t) currentBlockLength());

    if (! exchange())
        return;

    status.set (replyCode() == REPLY_OK ? ST_BLOCK_DATA : ERR_PROTOCOL);
}

void UpdateProcedure::transferBlock()
{
    const auto& region = file.regions[(size_t) regionIndex];
    const auto blockLength = (int) currentBlockLength();
    const auto* block = checkedBlock (region, blockLength);

    // Cannot happen with a region table filled by the file search; should it ever,
    // nothing unchecked is sent.
    if (block == nullptr)
    {
        status.set (ERR_FILE_OPEN);
        return;
    }

    const auto before = bytesBeforeBlock (file.regions, regionIndex, blockStart);
    const auto total = (double) totalBytes;

    for (int offset = 0; offset < blockLength; offset += kPieceSize)
    {
        publishProgress ((double) (before + offset) / total);

        if (offset + kPieceSize < blockLength)
        {
            outReport = dataPieceRequest (region.command, block + offset, kPieceSize);
            regionDone += kPieceSize;
        }
        else
        {
            const auto count = blockLength - offset;
            regionDone += count;

            outReport = lastPieceAnnouncement (region.command, count);

            if (! exchange())
                return;

            if (replyCode() != REPLY_OK)
            {
                status.set (ERR_PROTOCOL);
                return;
            }

            outReport = dataPieceRequest (region.command, block + offset, count);
        }

        if (! exchange())
            return;

        if (replyCode() != REPLY_OK)
        {
            status.set (ERR_PROTOCOL);
            return;
        }
    }

    if (status.get() == ST_BLOCK_DATA)
    {
        blockSum = byteSum (block, (size_t) blockLength);
        status.set (ST_BLOCK_CHECKSUM);
    }
}

const uint8_t* UpdateProcedure::checkedBlock (const UpdateRegion& region, int length) const noexcept
{
    const auto offset = region.fileOffset + blockStart;

    if (file.checkedImage == nullptr || offset < 0 || length < 0 || offset + length > (int64_t) file.checkedImage->size())
        return nullptr;

    return file.checkedImage->data() + offset;
}

void UpdateProcedure::sendChecksum()
{
    outReport = checksumRequest (file.regions[(size_t) regionIndex].command, blockSum);

    if (! exchange())
        return;

    if (replyCode() == REPLY_OK)
    {
        busySinceMs = kNotBusy;
        status.set (ST_BLOCK_WAIT);
    }
    else if (replyCode() == REPLY_REFUSED)
        status.set (refusalStatus (replyReason(), { 2 }));
    else
        status.set (ERR_PROTOCOL);
}

void UpdateProcedure::pollBlock (int& interval)
{
    const auto& region = file.regions[(size_t) regionIndex];
    outReport = pollRequest (region.command);

    if (! exchange())
        return;

    switch (replyCode())
    {
        case REPLY_BUSY:
        case REPLY_BUSY_ALT:
        {
            // A controller that never finishes the block must not hold the
            // progress screen for ever: its busy replies have an overall limit.
            const auto now = juce::Time::getMillisecondCounterHiRes();

            if (busySinceMs == kNotBusy)
                busySinceMs = now;
            else if (now - busySinceMs >= (double) busyPollLimitMs)
                status.set (ERR_TIMEOUT);

            return;
        }

        case REPLY_REFUSED:
            status.set (refusalStatus (replyReason(), { 3, 4 }));
            return;

        case REPLY_BLOCK_DONE:
            interval = kStepIntervalMs;

            if (blockStart + kBlockSize >= region.length)
            {
                ++regionIndex;
                currentRegion = regionIndex;
                regionDone = 0;
                blockStart = 0;
            }
            else
            {
                blockStart += kBlockSize;
            }

            status.set (ST_BLOCK_HEADER);
            return;

        default:
            status.set (ERR_PROTOCOL);
            return;
    }
}

void UpdateProcedure::finishUpdate()
{
    publishProgress (1.0);
    outReport = finishRequest();
    link.write (outReport.data());
    triggerAsyncUpdate();
    completed = 1;
}

void UpdateProcedure::confirmWrite()
{
    // A removal from here on is the controller restarting, not a failed update.
    removedDuringConfirm = false;
    confirming = true;

    const auto deadline = juce::Time::getMillisecondCounterHiRes() + (double) confirmWaitMs;
    WriteConfirmation result; // no answer, unless one comes in time (or only refusals)
    bool answered = false;

    while (! answered && ! threadShouldExit())
    {
        const auto left = (int) std::ceil (deadline - juce::Time::getMillisecondCounterHiRes());

        if (left <= 0)
            break;

        // Restarting: its arrival (or a stop) wakes the worker.
        if (! link.isConnected())
        {
            wait (left);
            continue;
        }

        answered = askForConfirmation (left, result);
    }

    confirming = false;

    // Stopped during the wait: the front-end is going, and nothing is told.
    if (threadShouldExit())
        return;

    confirmation = result;
    confirmationKnown = true;
    triggerAsyncUpdate();
}

bool UpdateProcedure::askForConfirmation (int waitMs, WriteConfirmation& result)
{
    removedDuringConfirm = false;
    replyEvent.reset();
    outReport = infoQuery();

    {
        const juce::ScopedLock sl (replyLock);
        awaitingReply = true;
    }

    const auto sent = link.write (outReport.data());
    const auto replied = sent && replyEvent.wait (waitMs);

    {
        const juce::ScopedLock sl (replyLock);
        awaitingReply = false;
        reply = inReport;
    }

    if (threadShouldExit())
        return false;

    // The restart took the query with it: asked again once the controller is back.
    if (removedDuringConfirm.load())
        return false;

    // The whole wait passed without a word: no answer.
    if (sent && ! replied)
        return true;

    // Only an info reply to the info query holds the controller's version and stamp.
    // Any other answer (a refusal, a controller still starting) is asked again a little
    // later, and so is a query the link let go of; a controller that answers to the end
    // without its information refused the question.
    if (! sent || readReply (reply.data()).command != CMD_CONTROL || replyCode() != REPLY_INFO)
    {
        if (sent)
            result.outcome = WriteConfirmation::Outcome::refused;

        wait (juce::jmin (waitMs, kConfirmRetryMs));
        return false;
    }

    const auto info = readInfoReply (reply.data());
    result.deviceStamp = info.stamp;
    result.deviceVersion = infoVersionText (info);
    result.outcome = result.deviceStamp == file.fileStamp && result.deviceVersion == file.fileVersion
                         ? WriteConfirmation::Outcome::confirmed
                         : WriteConfirmation::Outcome::mismatch;
    return true;
}
