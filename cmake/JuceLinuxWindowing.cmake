# Two changes to the framework's X11 windowing (JUCE 7's Linux peer), built
# into its GUI module:
#
# 1. An idle frame clock. The window runs a frame clock, a timer at the
#    display's refresh rate (100 Hz when the display reports none), from its
#    creation to its end, whether or not anything is to be painted. A waiting
#    screen then still wakes the program a hundred times a second: about 1 % of
#    a core for nothing. Here the clock runs only while the window has something
#    to paint: a repaint request starts it, and it stops once nothing is
#    pending. The window's back buffer (which the framework would drop 3 s after
#    the last paint, on a tick of this clock) then stays until the next paint: a
#    quarter of a megabyte for this window at 1x.
#
# 2. No input left waiting. The event loop wakes when the X connection's socket
#    has data. Any other X request that waits for the server (a paint that looks
#    for its completion, a query of the pointer or of the focus) reads every
#    event that has arrived meanwhile into the X library's own queue, which
#    empties the socket: a click or a key that came just then stayed unhandled
#    until the next input arrived (the user moved the mouse). Now, whenever the
#    framework lets go of the display with events in that queue, the message
#    loop is asked to handle them.
#
# The changes are made to copies of the module's files in the build tree, and
# each must find its text (cmake/JucePatch.cmake).

include(JucePatch)
trb_patch_module(juce_gui_basics)

#------------------------------------------------------------------------------
# 1. The idle frame clock.
trb_patch_begin("native/juce_linux_Windowing.cpp")

# A repaint request starts the clock (if it stands), which then paints.
trb_replace_once(
"            repainter->repaint (area.getIntersection (bounds.withZeroOrigin()));
    }"
"            repainter->repaint (area.getIntersection (bounds.withZeroOrigin()));

        if (! vBlankManager.isTimerRunning())
            updateVBlankTimer();
    }")

# After each tick, the clock stops when no one listens and nothing waits.
trb_replace_once(
"        if (repainter != nullptr)
            repainter->dispatchDeferredRepaints();
    }"
"        if (repainter != nullptr)
            repainter->dispatchDeferredRepaints();

        if (vBlankListeners.isEmpty() && (repainter == nullptr || repainter->isIdle()))
            vBlankManager.stopTimer();
    }")

trb_replace_once(
"        void repaint (Rectangle<int> area)
        {"
"        bool isIdle()
        {
            return regionsNeedingRepaint.isEmpty()
                && XWindowSystem::getInstance()->getNumPaintsPendingForWindow (peer.windowH) == 0;
        }

        void repaint (Rectangle<int> area)
        {")

trb_patch_end()

#------------------------------------------------------------------------------
# 2. No input left waiting in the X library's queue.
trb_patch_begin("native/x11/juce_linux_XWindowSystem.cpp")

trb_replace_once(
"XWindowSystemUtilities::ScopedXLock::~ScopedXLock()
{
    if (auto* xWindow = XWindowSystem::getInstanceWithoutCreating())
        if (auto* d = xWindow->getDisplay())
            X11Symbols::getInstance()->xUnlockDisplay (d);
}"
"namespace
{
    // One request to handle queued events at a time; set on any thread that
    // lets go of the display, cleared on the message thread.
    std::atomic<bool> queuedEventsWillBeHandled { false };

    void handleQueuedEventsSoon (::Display* d)
    {
        // Called with the display locked; asking for the queue's length reads
        // nothing from the server.
        if (X11Symbols::getInstance()->xEventsQueued (d, QueuedAlready) == 0
            || queuedEventsWillBeHandled.exchange (true))
            return;

        // The event loop's own handler for the connection takes every queued
        // event, as it does when the socket wakes it.
        const auto posted = MessageManager::callAsync ([]
        {
            queuedEventsWillBeHandled = false;

            if (auto* xWindow = XWindowSystem::getInstanceWithoutCreating())
                if (auto* display = xWindow->getDisplay())
                    LinuxEventLoopInternal::invokeEventLoopCallbackForFd (X11Symbols::getInstance()->xConnectionNumber (display));
        });

        if (! posted)
            queuedEventsWillBeHandled = false;
    }
}

XWindowSystemUtilities::ScopedXLock::~ScopedXLock()
{
    if (auto* xWindow = XWindowSystem::getInstanceWithoutCreating())
    {
        if (auto* d = xWindow->getDisplay())
        {
            handleQueuedEventsSoon (d);
            X11Symbols::getInstance()->xUnlockDisplay (d);
        }
    }
}")

trb_patch_end()

#------------------------------------------------------------------------------
# The unity file: it declares the event loop's entry for one connection, which
# the change above calls, and finds the changed files beside itself and every
# other file of the module in the framework's folder.
trb_patch_begin("juce_gui_basics.cpp")
trb_replace_once(
"#include \"juce_gui_basics.h\"
"
"#include \"juce_gui_basics.h\"
#if JUCE_LINUX || JUCE_BSD
 #include <juce_events/native/juce_linux_EventLoopInternal.h>
#endif
")
trb_patch_end()

trb_patch_use_copied_unity_file()
