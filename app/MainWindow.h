#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The program's only top-level window: fixed size, always on top, with the
    native title bar and no title-bar buttons. Its content is the main
    component, which it owns and deletes.

    The window keeps the framework's closeButtonPressed(), which does nothing:
    a close request from the system menu, the keyboard or the taskbar leaves the
    window open, and the user leaves through the main component's buttons.
*/
class MainComponent;

class MainWindow final : public juce::DocumentWindow
{
public:
    /** Creates the main component, sizes and centres the window and shows it.
        Message thread. */
    MainWindow();

    /** The base class deletes the content, the main component. */
    ~MainWindow() override;

    /** The window's content. Message thread. */
    MainComponent& getMainComponent() noexcept { return *mainComponent; }

private:
    // Created by the constructor and owned by the window as its content.
    MainComponent* mainComponent = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
