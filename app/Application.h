#pragma once

#include "app/DisplayLossHandler.h"
#include "app/InstanceHandover.h"
#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "app/QuitSignalWatcher.h"
#include "session/UpdateSession.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The framework's application object: names the program, keeps it to one
    running instance per user, creates the main window at start-up and
    deletes it at shutdown. Everything here runs on the message thread.

    A later launch of the same user finds the instance lock (InstanceLock)
    taken, hands its command line to this instance (InstanceHandover) and ends;
    this instance then brings its window to the front. A launch that finds
    the lock held by an instance that does not answer never starts beside it
    (that one may be writing the controller): it says on stderr which process
    holds the lock and what to do, and ends with EXIT_ANOTHER_UPDATER. A launch
    that finds no private place for the lock starts and says why. SIGTERM, SIGINT and SIGHUP reach
    systemRequestedQuit(), which quits at once, as any quit request from the
    system does; a second one before the program has ended ends it at once,
    with the exit status the first would have given. A display that goes away
    ends the program with the update's exit status too (during the write 5:
    run it again).
*/
class Application final : public juce::JUCEApplication
{
public:
    Application() = default;

    /** "TRBKelo7UpdateProgram": the instance lock and the hand-over between
        launches are named after it. */
    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    /** Starts listening for the system's quit signals, then either becomes the
        user's instance (creates the main window, listens for later launches) or
        hands the command line to the running instance and quits. A path on the
        command line is where the update file is looked for first. */
    void initialise (const juce::String& commandLine) override;

    /** Ends the session's run as it stands and takes its exit status, deletes the
        main window (and with it the main component), then the session, and lets go
        of the instance lock. */
    void shutdown() override;

    /** Brings the main window to the front with the keyboard focus, if it
        exists and is visible. The command line is ignored. */
    void anotherInstanceStarted (const juce::String& commandLine) override;

private:
    // False when the running instance took this launch's command line.
    bool becomeTheInstance();

    std::unique_ptr<QuitSignalWatcher> quitSignals;
    std::unique_ptr<DisplayLossHandler> displayLoss;
    std::unique_ptr<InstanceLock> instanceLock;
    std::unique_ptr<UpdateSession> session;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<InstanceHandover> instanceHandover;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Application)
};
