# What the program is built from on Windows (64-bit, MinGW-w64): the platform's
# half of each neutral header (Name_windows.cpp beside Name.h), the system
# libraries those files call and the USB HID library. The top CMakeLists.txt
# names only the platform-neutral sources; this file adds the rest to trb_core.

target_sources(trb_core PRIVATE
    app/DesktopScale_windows.cpp
    app/DisplayLossHandler_windows.cpp
    app/DisplayProbe_windows.cpp
    app/InstanceHandover_windows.cpp
    app/InstanceLock_windows.cpp
    app/ProcessArguments_windows.cpp
    app/QuitSignalWatcher_windows.cpp
    app/RepaintFlush_windows.cpp
    session/SleepInhibitor_windows.cpp
    app/StandardStreams_windows.cpp
    device/DeviceHolders_windows.cpp
    text/SystemLocale_windows.cpp
    text/fonts/SystemFonts_windows.cpp
    log/PlatformAdvice_windows.cpp
    log/StandardErrorWriter_windows.cpp
    ui/TerminalInput_windows.cpp
    ui/TerminalWriter_windows.cpp
    update/NativeFiles_windows.cpp
    update/RegularFileRead_windows.cpp)

# The device library on real USB HID (hidapi's Windows backend, device-change
# notifications for hot-plug), linked by the updater program.
add_subdirectory(device/windows)

# The system libraries the platform files call: known folders and the shell
# (shell32, ole32), users, tokens and randomness (advapi32), fonts (gdi32) and
# windows (user32).
target_link_libraries(trb_core PRIVATE shell32 ole32 advapi32 gdi32 user32)
