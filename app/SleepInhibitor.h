#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** Keeps the system from sleeping, shutting down or going idle while it is held,
    for work that must not be cut off halfway (writing the controller).

    Where the system offers no such lock the program carries on without it: the
    first failure in a process is told once on stderr, nothing more.
*/
class SleepInhibitor
{
public:
    virtual ~SleepInhibitor() = default;

    /** Takes the lock unless it is held already. Message thread; waits for the system's
        answer (a moment, at most a couple of seconds). False when the system refused or
        offers none; the caller carries on either way, and further calls do not ask the
        system again until release(). */
    virtual bool acquire() = 0;

    /** Lets go of the lock if it is held. Message thread. The destructor does it too. */
    virtual void release() = 0;

    virtual bool isHeld() const noexcept = 0;

    /** The platform's lock. who names the program and why says what it does, as the
        system shows them to a user who tries to sleep or shut down meanwhile. */
    static std::unique_ptr<SleepInhibitor> create (const juce::String& who, const juce::String& why);
};
