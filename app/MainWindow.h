#pragma once

#include "app/RepaintFlush.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The program's only top-level window: fixed size, always on top, with the
    native title bar and no title-bar buttons. Its content is the main
    component, which it owns and deletes.

    The window keeps the framework's closeButtonPressed(), which does nothing:
    a close request from the system menu, the keyboard or the taskbar leaves the
    window open, and the user leaves through the main component's buttons.
*/
class MainComponent;
class UpdateSession;

class MainWindow final : public juce::DocumentWindow
{
public:
    /** Creates the main component that shows session (which must outlive the window),
        sizes and centres the window and shows it. Message thread. */
    explicit MainWindow (UpdateSession& session);

    /** The base class deletes the content, the main component. */
    ~MainWindow() override;

    /** The window's outer size at scale 1, for fitting the scale to the screen
        before the window exists. Any thread. */
    static int getOuterWidth() noexcept;
    static int getOuterHeight() noexcept;

    /** The window's content. Message thread. */
    MainComponent& getMainComponent() noexcept { return *mainComponent; }

    /** Creates the native window as the base class does and gives it the
        program's icon, which the desktop shows in its task list and window
        switcher. The framework creates the native window anew whenever its
        style changes (the native title bar does), so the icon goes to each
        one. Message thread. */
    juce::ComponentPeer* createNewPeer (int styleFlags, void* nativeWindowToAttachTo) override;

private:
    // Created by the constructor and owned by the window as its content.
    MainComponent* mainComponent = nullptr;
    // Drawn once from the built-in SVG and handed to every native window.
    juce::Image icon;
    // Paints the screens that follow the first where the system never asks
    // for it (under Wine); does nothing elsewhere.
    RepaintFlush repaintFlush { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
