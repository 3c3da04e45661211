// The update procedure's message-thread side: the user's actions, the device
// events and what the listeners are told. The worker's steps are in
// update/UpdateProcedureWorker.cpp.

#include "update/UpdateProcedure.h"

#include <algorithm>
#include <cstring>

UpdateProcedure::UpdateProcedure (ControllerLink& controllerLink)
    : juce::Thread ("UpdatingThread")
    , link (controllerLink)
{
}

UpdateProcedure::~UpdateProcedure()
{
    // The worker uses the link and the regions: it must have stopped before any of
    // them goes, also when the program is told to quit mid-update.
    stopWorker();
    cancelPendingUpdate();
}

//==============================================================================
void UpdateProcedure::startCheck()
{
    startCheck (updateFilePlaces);
}

void UpdateProcedure::startCheck (const juce::File& folder)
{
    startCheck (std::vector<UpdateFilePlace> { { folder, false } });
}

void UpdateProcedure::startCheck (const std::vector<UpdateFilePlace>& places)
{
    // While the worker checks the controller the status is still ST_INITIAL; a
    // further press must not touch what the worker uses.
    if (isThreadRunning() || status.get() != ST_INITIAL)
        return;

    findUpdateFile (places);

    if (! isFileErrorStatus (status.get()))
    {
        if (! link.isConnected())
        {
            status.set (ERR_NOT_CONNECTED);
        }
        else
        {
            replyEvent.reset();
            startThread();
        }
    }

    // A failed check is the user's answer to the press: told now, not a turn later.
    tellListenersNow();
}

void UpdateProcedure::findUpdateFile()
{
    findUpdateFile (updateFilePlaces);
}

void UpdateProcedure::findUpdateFile (const juce::File& folder)
{
    findUpdateFile (std::vector<UpdateFilePlace> { { folder, false } });
}

void UpdateProcedure::findUpdateFile (const std::vector<UpdateFilePlace>& places)
{
    // Only an image that this search checked may be written.
    file.checkedImage = nullptr;

    file.fileSha256 = {};

    UpdateFileSearchReport report;
    report.error = ::findUpdateFile (places, file, &report);

    // A sound file that is not the one its maker published is refused like a damaged
    // one: its image is dropped, so nothing of it can be sent.
    if (! report.error.has_value() && expectedSha256.isNotEmpty() && file.fileSha256 != expectedSha256)
    {
        report.error = ERR_FILE_DIGEST;
        file.checkedImage = nullptr;
        file.fileState = FILE_NONE;

        for (auto& region : file.regions)
            region.state = ERR_FILE_DIGEST;
    }

    tell ([&] (UpdateListener& l)
          { l.fileSearched (report, file); });

    if (report.error.has_value())
        status.set (*report.error);
}

void UpdateProcedure::startUpdate()
{
    if (status.setIf (ST_READY, ST_PREPARE))
    {
        updateStarted = true;
        tell ([] (UpdateListener& l)
              { l.writeStarted(); });
        notify(); // the worker sleeps on the ready screen until told
    }
}

void UpdateProcedure::stop()
{
    // The exit flag before the reply is cleared: a worker that has just been woken
    // by a real reply and then takes the cleared one sees the flag and leaves it
    // unjudged, instead of reading the zeros as a wrong reply.
    signalThreadShouldExit();

    {
        const juce::ScopedLock sl (replyLock);
        inReport.fill (0);
    }

    stopWorker();
}

void UpdateProcedure::setStatus (int32_t newStatus) noexcept
{
    status.set (newStatus);
    triggerAsyncUpdate();
}

//==============================================================================
void UpdateProcedure::addListener (UpdateListener* listener)
{
    if (listener != nullptr && std::find (listeners.begin(), listeners.end(), listener) == listeners.end())
        listeners.push_back (listener);
}

void UpdateProcedure::removeListener (UpdateListener* listener)
{
    listeners.erase (std::remove (listeners.begin(), listeners.end(), listener), listeners.end());
}

void UpdateProcedure::tell (const std::function<void (UpdateListener&)>& event)
{
    // Over a copy, each listener only while it is still added: a listener may remove
    // itself or another one from inside the event.
    const auto toTell = listeners;

    for (auto* listener : toTell)
        if (std::find (listeners.begin(), listeners.end(), listener) != listeners.end())
            event (*listener);
}

void UpdateProcedure::handleAsyncUpdate()
{
    tellListenersNow();
}

void UpdateProcedure::tellListenersNow()
{
    cancelPendingUpdate();
    const auto now = status.get();

    // The check's findings are the worker's until it leaves ST_INITIAL; from then on
    // they stay as they are, and the status read above orders them before this read.
    if (! toldChecked && (now == ST_READY || (now >= ST_PREPARE && now <= ST_COMPLETE)))
    {
        toldChecked = true;
        tell ([this] (UpdateListener& l)
              { l.controllerChecked (deviceVersion, deviceStamp, file.regions); });
    }

    if (now != toldStatus)
    {
        toldStatus = now;
        tell ([now] (UpdateListener& l)
              { l.statusChanged (now); });
    }

    const auto progress = workerProgress.load();

    if (progress != toldProgress)
    {
        toldProgress = progress;
        tell ([progress] (UpdateListener& l)
              { l.progressChanged (progress); });
    }

    // A region is written once the worker has moved past it, and all of them are
    // at the completion; after an error, those it had moved past are written.
    if (updateStarted)
    {
        const auto reached = now == ST_COMPLETE ? kRegionCount : juce::jlimit (0, kRegionCount, (int) currentRegion.load());

        // Counted before the event, so that an event told from inside it skips this region.
        while (toldRegions < reached)
        {
            const auto index = toldRegions++;

            if (file.regions[(size_t) index].state == REGION_WRITE)
                tell ([this, index] (UpdateListener& l)
                      { l.regionWritten (index, file.regions[(size_t) index]); });
        }
    }

    if (! toldEnd && (now == ST_COMPLETE || isErrorStatus (now)))
    {
        toldEnd = true;
        tell ([now] (UpdateListener& l)
              { l.updateEnded (now); });
    }

    // Only after the completion was told: the confirmation follows the finish request.
    if (toldEnd && now == ST_COMPLETE && ! toldConfirmation && confirmationKnown.load())
    {
        toldConfirmation = true;
        const auto told = confirmation;
        tell ([&told] (UpdateListener& l)
              { l.writeConfirmed (told); });
    }
}

//==============================================================================
void UpdateProcedure::hidInputReceived (int)
{
    uint8_t received[kReportSize] = {};
    const auto length = link.takeInput (received);

    if (length <= 0)
        return;

    bool wake = false;

    {
        const juce::ScopedLock sl (replyLock);

        // A report that no request waits for is dropped rather than left to be
        // taken as the reply to the next request; a waiting request takes the
        // first report that comes, and only that one.
        if (awaitingReply)
        {
            // A short reply must not be judged with the bytes of an earlier one.
            inReport.fill (0);
            std::memcpy (inReport.data(), received, (size_t) juce::jmin (length, kReportSize));
            awaitingReply = false;
            wake = true;
        }
    }

    if (wake && isThreadRunning())
        replyEvent.signal();
}

void UpdateProcedure::hidDeviceRemoved()
{
    // During the controller check a removal leaves the status alone, but the query
    // in flight will never be answered: the worker is woken at once to end the
    // check as a query without reply, instead of waiting out the whole time-out.
    // The flag comes before the event, as in stopWorker().
    if (status.get() == ST_INITIAL && isThreadRunning())
    {
        removedDuringCheck = true;
        replyEvent.signal();
    }

    // After the finish request the controller restarts: the query in flight is
    // lost, and asked again once it is back. The flag comes before the event.
    if (confirming.load())
    {
        removedDuringConfirm = true;
        replyEvent.signal();
    }

    if (! status.markRemoved())
        return;

    // Give a step in flight a moment to end on its own before the worker is stopped.
    juce::Thread::sleep (kRemovalPauseMs);
    stopWorker();
    triggerAsyncUpdate();
}

void UpdateProcedure::hidDeviceArrived()
{
    // The device link takes the controller up again by itself; an update that
    // ended through a removal stays ended. A worker waiting for the restarted
    // controller asks it now.
    if (confirming.load())
        notify();
}

WriteConfirmation UpdateProcedure::getConfirmation() const
{
    return confirmationKnown.load() ? confirmation : WriteConfirmation {};
}

void UpdateProcedure::stopWorker()
{
    // The exit flag first, the event second: a worker that clears the event just
    // before it sends then still sees the flag, and one that is already waiting
    // wakes at once. The other order could lose the wake-up and leave the worker
    // waiting out the whole reply time-out.
    signalThreadShouldExit();
    replyEvent.signal();

    if (isThreadRunning())
        stopThread (kStopTimeoutMs);
}
