#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <functional>
#include <memory>

/** Keeps the system from sleeping, shutting down or going idle while it is held,
    for work that must not be cut off halfway (writing the controller). On Linux it
    also keeps the lid switch and the suspend and hibernate keys from suspending the
    system, where the system allows that; a refusal of that part alone keeps the rest.

    Where the system offers no such lock the program carries on without it: the
    first failure in a process is told once on stderr, nothing more.
*/
class SleepInhibitor
{
public:
    /** Where the one warning of a process goes (the support log, so that it follows the
        log's rule for a terminal's stderr); empty: stderr. Called on any thread: it must
        not wait, and may only use what stays valid to the end of the process. */
    using Warning = std::function<void (const juce::String& line)>;

    virtual ~SleepInhibitor() = default;

    /** Asks for the lock unless it is held or asked for already, and returns at once; the
        system's answer comes on a thread of the inhibitor's own (isHeld() then turns true).
        Message thread. When the system refuses or offers none, the caller carries on, and
        further calls do not ask again until release(). */
    virtual void acquire() = 0;

    /** Lets go of the lock if it is held, and of one still being asked for as soon as it
        comes. Message thread. The destructor does it too. */
    virtual void release() = 0;

    /** True once the system has granted the lock, until release(). Any thread. */
    virtual bool isHeld() const = 0;

    /** True while the system is being asked (for at most a few seconds, whatever
        the system does). Neither release() nor the destructor waits for the ask: an
        answer that comes after them is let go of at once. Any thread. */
    virtual bool isAsking() const = 0;

    /** The platform's lock. who names the program and why says what it does, as the
        system shows them to a user who tries to sleep or shut down meanwhile. */
    static std::unique_ptr<SleepInhibitor> create (const juce::String& who, const juce::String& why, Warning warning = {});

    /** Says line through warning (stderr when it is empty) unless told is already set,
        and sets it: each kind of warning is said once per process. Any thread. */
    static void warnOnce (std::atomic<bool>& told, const Warning& warning, const juce::String& line);
};
