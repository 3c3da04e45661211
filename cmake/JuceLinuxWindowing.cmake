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
# The changes are made to copies of the module's unity file and of the files it
# changes, in the build tree; every other file is read from the framework. Each
# replacement must find its text: a framework whose code differs stops the
# configure step here instead of building something unexamined.

get_target_property(trb_gui_basics_sources juce_gui_basics INTERFACE_SOURCES)
list(FILTER trb_gui_basics_sources INCLUDE REGEX "juce_gui_basics\\.cpp$")
if(NOT trb_gui_basics_sources)
    message(FATAL_ERROR "juce_gui_basics.cpp not found among the framework module's sources")
endif()
get_filename_component(trb_gui_basics_dir "${trb_gui_basics_sources}" DIRECTORY)
set(trb_patched_dir "${CMAKE_BINARY_DIR}/juce-patched/juce_gui_basics")

# Reads one of the module's files (a path inside the module) into trb_patch_text.
macro(trb_patch_begin file)
    set(trb_patch_file "${file}")
    file(READ "${trb_gui_basics_dir}/${file}" trb_patch_text)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${trb_gui_basics_dir}/${file}")
endmacro()

# Replaces the one occurrence of what in trb_patch_text.
function(trb_replace_once what with)
    string(FIND "${trb_patch_text}" "${what}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "JuceLinuxWindowing.cmake: the framework's ${trb_patch_file} does not hold "
                            "the code this build changes; review the change for this version")
    endif()
    string(REPLACE "${what}" "${with}" changed "${trb_patch_text}")
    set(trb_patch_text "${changed}" PARENT_SCOPE)
endfunction()

# Writes the changed file beside the copied unity file (only when it differs,
# so that an unchanged framework rebuilds nothing).
macro(trb_patch_end)
    file(WRITE "${trb_patched_dir}/${trb_patch_file}.new" "${trb_patch_text}")
    file(COPY_FILE "${trb_patched_dir}/${trb_patch_file}.new" "${trb_patched_dir}/${trb_patch_file}" ONLY_IF_DIFFERENT)
endmacro()

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

set_property(TARGET juce_gui_basics PROPERTY INTERFACE_SOURCES "${trb_patched_dir}/juce_gui_basics.cpp")
set_source_files_properties("${trb_patched_dir}/juce_gui_basics.cpp" PROPERTIES
    INCLUDE_DIRECTORIES "${trb_gui_basics_dir}")
