# What the program is built from on Windows (64-bit, MinGW-w64): the platform's
# half of each neutral header (Name_windows.cpp beside Name.h, for each base
# name the top CMakeLists.txt lists) and the helpers they share, the system
# libraries those files call and the USB HID library. The top CMakeLists.txt
# names only the platform-neutral sources; this file adds the rest to trb_core.

list(TRANSFORM TRB_PLATFORM_SOURCE_BASES APPEND _windows.cpp OUTPUT_VARIABLE TRB_WINDOWS_SOURCES)
target_sources(trb_core PRIVATE ${TRB_WINDOWS_SOURCES} ${TRB_WINDOWS_HEADERS})

# The device library on real USB HID (hidapi's Windows backend, device-change
# notifications for hot-plug), linked by the updater program.
add_subdirectory(device/windows)

# The system libraries the platform files call: known folders and the shell
# (shell32, ole32), users, tokens and randomness (advapi32), fonts (gdi32) and
# windows (user32).
target_link_libraries(trb_core PRIVATE shell32 ole32 advapi32 gdi32 user32)
