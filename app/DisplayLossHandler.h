#pragma once

#include <juce_core/juce_core.h>

#include <functional>

struct _XDisplay; // the X library's Display

/**
    What the program does when its connection to the X server breaks (the
    server ended, the session went away). The X library ends the process right
    after its handler returns, and the framework's handler leaves the exit
    status at 1; this handler, installed over it, runs onLost first so that the
    program can say what happened and end with the status of its update.

    On Windows a window cannot lose its display while the session lasts (the
    session's end comes as a quit request instead): the handler exists there too,
    and onLost is never called.

    Only one handler may exist at a time. Create it on the message thread once
    the framework has opened the display (its window exists); it puts the
    previous handler back when it is destroyed.
*/
class DisplayLossHandler final
{
public:
    /** onLost runs on the thread that found the connection broken (in practice
        the message thread) and should end the process itself, for example with
        std::exit: the X library requires that the program not carry on, and ends
        it with status 1 if onLost returns. A connection that breaks again while
        onLost runs ends the process at once with status 1. */
    explicit DisplayLossHandler (std::function<void()> onLost);

    /** Puts the previous handler back. Message thread. */
    ~DisplayLossHandler();

    /** Runs onLost; for the X library's handler only. */
    void connectionLost() const;

private:
    using Handler = int (*) (_XDisplay*); // the X library's XIOErrorHandler
    std::function<void()> onLost;
    Handler previous = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DisplayLossHandler)
};
