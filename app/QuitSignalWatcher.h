#pragma once

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>

/** Turns the system's requests to end the program into a call on the message
    thread. On Linux these are SIGTERM (session end, shutdown, `kill`), SIGINT
    (Ctrl+C in a terminal) and SIGHUP (the terminal it was started from closed);
    by default each of them would end the program at once, skipping its shutdown.

    Only one watcher may exist at a time; it takes the three signals over while it
    lives and gives them back to their previous handlers when it is destroyed.
*/
class QuitSignalWatcher final
{
public:
    /** Installs the signal handlers; onQuitRequested then runs on the message
        thread once for each burst of signals. Message thread. If the handlers
        cannot be installed, isWatching() is false and the signals keep their
        previous handling. */
    explicit QuitSignalWatcher (std::function<void()> onQuitRequested);

    /** Restores the previous handlers; onQuitRequested is not called after it.
        Message thread. */
    ~QuitSignalWatcher();

    bool isWatching() const noexcept;

private:
    class Watch;
    std::unique_ptr<Watch> watch;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuitSignalWatcher)
};
