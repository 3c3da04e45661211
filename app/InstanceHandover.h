#pragma once

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>
#include <optional>

/** Hands a later launch's command line to the instance of the application that
    already runs, for the same user.

    The instance lock (InstanceLock) keeps the program to one instance per
    user, but cannot tell the running instance that another launch happened.
    The running instance therefore keeps a listening endpoint under the name
    the lock file gives; a later launch that finds the lock taken sends its
    command line there and ends, and the running instance is told on its
    message thread.
*/
class InstanceHandover final
{
public:
    using Receiver = std::function<void (const juce::String& commandLine)>;

    /** Starts listening for later launches of the application called
        applicationName by this user. receiver is called on the message thread,
        once per launch, with that launch's command line; it is never called
        after this object is destroyed.

        Message thread. If the endpoint cannot be opened (for example another
        process of the same name and user holds it), isListening() is false and
        nothing is ever delivered; the program runs on without the hand-over.
    */
    InstanceHandover (const juce::String& applicationName, Receiver receiver);

    /** Stops listening and waits for the listening thread to end; a launch
        that is sending at that moment gets no acknowledgement. Message thread. */
    ~InstanceHandover();

    /** True while the endpoint is open and launches can reach this instance. */
    bool isListening() const noexcept;

    /** Sends commandLine to the running instance of applicationName of this
        user and waits until it has acknowledged it. If no instance listens yet,
        tries again for up to waitForListenerMs (the running one may still be
        starting). Any thread.

        Returns false when no instance of this user listened in that time, when
        the one that answered runs as another user, or when it did not
        acknowledge within three seconds; nothing is retried after a connection.
        The instance gives each launch a second for its whole message, so a
        launch that trickles its bytes cannot hold up the ones behind it.
    */
    static bool sendToRunningInstance (const juce::String& applicationName,
                                       const juce::String& commandLine,
                                       int waitForListenerMs);

    /** The message by which a launch hands commandLine to the running instance of
        applicationName. Any thread. */
    static juce::String messageFor (const juce::String& applicationName, const juce::String& commandLine);

    /** The command line that a launch's message of size bytes carries for the
        application called applicationName, or nothing when the message is not
        one of that application's. The message comes from another process: its
        bytes may be anything, and the command line holds well-formed text only
        (ExternalText). Any thread; never fails. */
    static std::optional<juce::String> commandLineFromMessage (const juce::String& applicationName,
                                                               const void* bytes,
                                                               size_t size);

private:
    class Listener;
    std::unique_ptr<Listener> listener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (InstanceHandover)
};
