#pragma once

#include "device/HidCtrl.h"
#include "session/Outcomes.h"
#include "terminal/JsonEventWriter.h"
#include "terminal/TerminalWriter.h"
#include "update/ControllerQuery.h"

#include <functional>
#include <vector>

/**
    --list: names every connected TRB-Kelo7 with its serial, port and node and the
    version and date stamp it reports, then ends. Each controller is asked only
    under its claim: it is chosen on the device link (which claims it), asked once
    for its information and let go of when the next is chosen (the last when the
    link closes). One whose claim another process holds is named with its holder
    and not asked. Nothing is ever written to a controller's flash.

    With JSON asked for, each controller is also a "controller" event on stdout
    (the plain lines then go to stderr), and the run ends with the "result" event.
    No controller connected ends as the update does without one (ERR_NOT_CONNECTED).

    Threads: everything runs on the message thread; the writers have threads of
    their own.
*/
class TerminalControllerList final
{
public:
    /** Told once, on the message thread, with the exit status the run ends with. */
    using Finished = std::function<void (int exitStatus)>;

    /** A listing that writes nothing yet; json: the events on stdout. Message thread. */
    TerminalControllerList (bool json, Finished finished);

    /** Closes the link (letting go of any claim) and waits a moment for the last lines. */
    ~TerminalControllerList();

    /** Opens the device link and asks the controllers one after the other. Message thread. */
    void start();

    /** The system asked the program to end: the listing ends as left, where it stands.
        Message thread. */
    void quitRequested();

private:
    void askNext();
    void tell (const ConnectedController& controller, const ControllerInfo& info, const ClaimHolder* heldBy);
    void finish (const Outcome& outcome);
    void say (const juce::String& line);

    const bool jsonAsked;
    Finished onFinished;
    TerminalWriter output { TerminalWriter::Stream::output };
    TerminalWriter errors { TerminalWriter::Stream::error };
    TerminalWriter& plain; // stdout, or stderr when stdout carries JSON
    JsonEventWriter json;

    HidCtrl link;
    ControllerQuery query { link };
    std::vector<ConnectedController> controllers;
    size_t next = 0;
    bool finished = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminalControllerList)
};
