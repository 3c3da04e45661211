#pragma once

#include "app/InstanceHandover.h"
#include "app/MainWindow.h"
#include "app/QuitSignalWatcher.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The framework's application object: names the program, keeps it to one
    running instance per machine, creates the main window at start-up and
    deletes it at shutdown. Everything here runs on the message thread.

    A later launch finds the framework's instance lock taken, hands its command
    line to this instance (InstanceHandover) and ends; this instance then brings
    its window to the front. SIGTERM and SIGINT reach systemRequestedQuit(),
    which quits at once, as any quit request from the system does.
*/
class Application final : public juce::JUCEApplication
{
public:
    Application() = default;

    /** "TRBKelo7UpdateProgram": the framework keys its instance lock on it, and
        the hand-over between launches is named after it. */
    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    /** Creates the main window and starts listening for later launches and
        for the system's quit signals. A path on the command line is where the
        update file is looked for first. */
    void initialise (const juce::String& commandLine) override;

    /** Sets the exit status from the update's status (app/ExitStatus.h) and deletes
        the main window, and with it the main component. In a launch that found
        another instance running, hands the command line over. */
    void shutdown() override;

    /** Brings the main window to the front with the keyboard focus, if it
        exists and is visible. The command line is ignored. */
    void anotherInstanceStarted (const juce::String& commandLine) override;

private:
    std::unique_ptr<QuitSignalWatcher> quitSignals;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<InstanceHandover> instanceHandover;
    bool initialised = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Application)
};
