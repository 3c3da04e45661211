# What the program is built from on Linux: the platform's half of each neutral
# header (Name_linux.cpp beside Name.h) and the POSIX helper they share, the
# system libraries those files call, the changes to the framework's X11
# windowing and the USB HID library. The top CMakeLists.txt names only the
# platform-neutral sources; this file adds the rest to trb_core.

target_sources(trb_core PRIVATE
    app/DesktopScale_linux.cpp
    app/DisplayLossHandler_linux.cpp
    app/DisplayProbe_linux.cpp
    app/InstanceHandover_linux.cpp
    app/InstanceLock_linux.cpp
    app/ProcessArguments_linux.cpp
    app/QuitSignalWatcher_linux.cpp
    app/RepaintFlush_linux.cpp
    session/SleepInhibitor_linux.cpp
    app/StandardStreams_linux.cpp
    device/DeviceHolders_linux.cpp
    text/SystemLocale_linux.cpp
    text/fonts/SystemFonts_linux.cpp
    log/PlatformAdvice_linux.cpp
    log/StandardErrorWriter_linux.cpp
    ui/TerminalInput_linux.cpp
    ui/TerminalWriter_linux.cpp
    update/NativeFiles_linux.cpp
    update/RegularFileRead_linux.cpp
    update/ScopedDescriptor.h)

# The text catalogue asks fontconfig which installed fonts cover its languages.
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
target_link_libraries(trb_core PRIVATE PkgConfig::FONTCONFIG)

# Xlib, linked directly: the program asks whether its display opens before the
# framework starts (the framework loads Xlib at run time and does not survive a
# missing display), and reads the desktop's scale from the X server's
# resources (Xft.dpi).
pkg_check_modules(TRB_X11 REQUIRED IMPORTED_TARGET x11)
target_link_libraries(trb_core PRIVATE PkgConfig::TRB_X11)

# The sleep lock during a write is taken from systemd-logind over D-Bus (sd-bus).
pkg_check_modules(TRB_SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(trb_core PRIVATE PkgConfig::TRB_SYSTEMD)

# The framework's GUI module with its frame clock running only while there is
# something to paint, and no input left waiting in the X library's queue. The
# module's sources are read when the build files are generated, so the change
# reaches trb_juce although that library was declared before.
include(JuceLinuxWindowing)

# The device library on real USB HID (hidapi on hidraw, libudev for hot-plug),
# linked by the updater program.
add_subdirectory(device/linux)
