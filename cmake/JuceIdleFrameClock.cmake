# The framework's X11 window (JUCE 7's Linux peer) runs a frame clock, a timer
# at the display's refresh rate (100 Hz when the display reports none), from
# its creation to its end, whether or not anything is to be painted. A waiting
# screen then still wakes the program a hundred times a second: about 1 % of a
# core for nothing. This builds the framework's GUI module with the clock
# running only while the window has something to paint: a repaint request
# starts it, and it stops once nothing is pending. The window's back buffer
# (which the framework would drop 3 s after the last paint, on a tick of this
# clock) then stays until the next paint: a quarter of a megabyte for this
# window at 1x.
#
# The change is made to a copy of the module's unity file and of the one file
# it changes, in the build tree; every other file is read from the framework.
# Each replacement must find its text: a framework whose code differs stops
# the configure step here instead of building something unexamined.

get_target_property(trb_gui_basics_sources juce_gui_basics INTERFACE_SOURCES)
list(FILTER trb_gui_basics_sources INCLUDE REGEX "juce_gui_basics\\.cpp$")
if(NOT trb_gui_basics_sources)
    message(FATAL_ERROR "juce_gui_basics.cpp not found among the framework module's sources")
endif()
get_filename_component(trb_gui_basics_dir "${trb_gui_basics_sources}" DIRECTORY)
set(trb_windowing_source "${trb_gui_basics_dir}/native/juce_linux_Windowing.cpp")

set(trb_patched_dir "${CMAKE_BINARY_DIR}/juce-patched/juce_gui_basics")
file(READ "${trb_windowing_source}" trb_windowing)

function(trb_replace_once what with)
    string(FIND "${trb_windowing}" "${what}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "JuceIdleFrameClock.cmake: the framework's ${trb_windowing_source} "
                            "does not hold the code this build changes; review the change for this version")
    endif()
    string(REPLACE "${what}" "${with}" changed "${trb_windowing}")
    set(trb_windowing "${changed}" PARENT_SCOPE)
endfunction()

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

file(WRITE "${trb_patched_dir}/native/juce_linux_Windowing.cpp.new" "${trb_windowing}")
file(COPY_FILE "${trb_patched_dir}/native/juce_linux_Windowing.cpp.new"
     "${trb_patched_dir}/native/juce_linux_Windowing.cpp" ONLY_IF_DIFFERENT)
file(COPY_FILE "${trb_gui_basics_sources}" "${trb_patched_dir}/juce_gui_basics.cpp" ONLY_IF_DIFFERENT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${trb_windowing_source}" "${trb_gui_basics_sources}")

# The copied unity file finds the changed file beside itself, and every other
# file of the module in the framework's folder.
set_property(TARGET juce_gui_basics PROPERTY INTERFACE_SOURCES "${trb_patched_dir}/juce_gui_basics.cpp")
set_source_files_properties("${trb_patched_dir}/juce_gui_basics.cpp" PROPERTIES
    INCLUDE_DIRECTORIES "${trb_gui_basics_dir}")
