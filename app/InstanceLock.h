#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <optional>

/** Decides which launch of the program is the running instance for one user.

    The instance holds a lock on a file in a directory that only this user can
    write to, so another user's files can neither take the lock first nor make
    it unusable. The file also names the endpoint on which the instance listens
    for later launches (a fresh random name per instance), so a later launch
    reaches that instance and no process squatting a well-known name.

    The lock ends with the object, or with the process however it ends.
*/
class InstanceLock final
{
public:
    enum class State
    {
        held, // this object holds the lock: this launch is the instance
        heldElsewhere, // another process of this user holds it
        unavailable // no private directory or lock file could be used
    };

    /** Whether the instance listens for later launches (a window brings itself
        forward) or takes none (a run in a terminal has no window to show). */
    enum class Launches
    {
        handedOver,
        refused
    };

    /** Tries each directory of places in turn (defaultPlaces() when empty) and takes the
        lock in the first usable one, without waiting. A directory counts only when it is
        a real directory (no symbolic link) owned by this user that no one else may write
        to; a missing place in the shared temporary directory is created so. With
        Launches::refused the file names no endpoint, so a later launch learns at once
        that this instance takes none. Any thread.

        On Windows the lock is a named object local to the session and to the user
        (places are not used): the thread that creates the object holds it. */
    explicit InstanceLock (const juce::String& applicationName,
                           juce::Array<juce::File> places = {},
                           Launches launches = Launches::handedOver);

    /** Lets go of the lock. */
    ~InstanceLock();

    State getState() const noexcept { return state; }

    /** The lock file in use; empty when unavailable, and on Windows, whose lock is a
        named object instead (getLockName). */
    juce::File getFile() const { return file; }

    /** The lock in use, as a message to the user names it: the lock file's path, or
        the named object's name where the lock is one (Windows). */
    juce::String getLockName() const { return lockName.isNotEmpty() ? lockName : file.getFullPathName(); }

    /** Why no lock could be taken (unavailable), in words for a message on stderr. */
    juce::String getProblem() const { return problem; }

    /** Held: the endpoint name this instance is to listen on, as written in the file;
        empty when it takes no launches. */
    juce::String getHandoverName() const { return handoverName; }

    /** Held elsewhere: the endpoint name the holder wrote into the file. The holder writes
        it right after taking the lock; this waits up to waitMs for it. Empty when none
        came or what came is not such a name. Any thread; blocks. */
    juce::String readHandoverName (int waitMs) const;

    /** The process that holds the lock, for a message that tells the user which
        updater to close. */
    struct Holder
    {
        int processId = 0;
        juce::String name; // the process's short name; may be empty
        bool stopped = false; // suspended (Ctrl+Z, SIGSTOP): it answers nothing until resumed
    };

    /** Held elsewhere: the process holding the lock, or nothing when the system does
        not say. Any thread; reads the system's table of file locks. */
    std::optional<Holder> findHolder() const;

    /** The places tried by default, in order: the platform's private places for this
        user's running programs, then the user's home directory; none on Windows. Any thread. */
    static juce::Array<juce::File> defaultPlaces (const juce::String& applicationName);

private:
    // The platform's hold on the lock file, open for as long as the object lives.
    struct Native;

    bool tryPlace (const juce::File& place, const juce::String& applicationName, Launches launches);

    State state = State::unavailable;
    juce::File file;
    juce::String problem, handoverName, namePrefix, lockName;
    std::unique_ptr<Native> native;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (InstanceLock)
};
