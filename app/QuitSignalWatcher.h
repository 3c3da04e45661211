#pragma once

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>

/** Turns the system's requests to end the program into a call on the message
    thread. On Linux these are SIGTERM (session end, shutdown, `kill`), SIGINT
    (Ctrl+C in a terminal) and SIGHUP (the terminal it was started from closed);
    by default each of them would end the program at once, skipping its shutdown.
    On Windows they are the requests of a console that started the program:
    Ctrl+C, Ctrl+Break and the closing of the console (the session's end reaches
    the window as the framework's quit request).

    A further signal after the first one ends the program at once, from the
    signal handler, with the status endAtOnce gives: the first one is still being
    handled, and a shutdown that takes too long (a peer that does not answer) must
    not keep a user or a session manager who insists waiting.

    Only one watcher may exist at a time; it takes the three signals over while it
    lives and gives them back to their previous handlers when it is destroyed.
*/
class QuitSignalWatcher final
{
public:
    /** Says what the program ends with and returns its exit status; called from
        the signal handler, so it must be async-signal-safe (read atomics, write()). */
    using EndAtOnce = int (*)() noexcept;

    /** Installs the signal handlers; onQuitRequested then runs on the message
        thread once for each burst of signals, or, when endAtOnce is given, for the
        first signal only: endAtOnce then ends the program at any later one. Message thread. If the handlers cannot be installed,
        isWatching() is false and the signals keep their previous handling. */
    explicit QuitSignalWatcher (std::function<void()> onQuitRequested, EndAtOnce endAtOnce = nullptr);

    /** Restores the previous handlers; onQuitRequested is not called after it.
        Message thread. */
    ~QuitSignalWatcher();

    bool isWatching() const noexcept;

private:
    class Watch;
    std::unique_ptr<Watch> watch;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuitSignalWatcher)
};
