# The Windows build's USB path under Wine: Windows programs run inside the
# umockdev testbed of the Linux tree's EmulatedControllerHost, with a
# wineserver of their own started inside it (so Wine's HID driver process
# inherits the testbed) on a Wine folder of their own whose HID bus reads the
# hidraw nodes (wine-testbed.sh). Wine gives the kernel's HID name as the
# product string, so the emulated devices have no manufacturer string.

find_program(TRB_UMOCKDEV_WRAPPER umockdev-wrapper)
set(TRB_CONTROLLER_HOST "${PROJECT_SOURCE_DIR}/build/normal/tests/usb/trb_emulated_controller_host"
    CACHE FILEPATH "The Linux tree's trb_emulated_controller_host, which runs the USB tests under Wine")
set(TRB_LINUX_MAKE_UPDATE_FILE "${PROJECT_SOURCE_DIR}/build/normal/tools/make-update-file"
    CACHE FILEPATH "The Linux tree's make-update-file, for the USB tests under Wine")

# The device library at the HID_* functions, for what the program's own run
# cannot provoke: a controller plugged in after the start, and one that drops
# off the bus while the caller waits for its reply.
add_executable(trb_usb_wine_check WineDeviceLibraryCheck.cpp)
target_link_libraries(trb_usb_wine_check PRIVATE trb_usb_device juce::juce_recommended_warning_flags)
# HID_GetDeviceIdentity and the claim, with a second process under the same wineserver.
add_executable(trb_usb_wine_claim_check WineControllerClaimCheck.cpp)
target_link_libraries(trb_usb_wine_claim_check PRIVATE trb_usb_device juce::juce_recommended_warning_flags)

if(NOT TRB_UMOCKDEV_WRAPPER)
    message(WARNING "umockdev-wrapper not found: the USB path under Wine is left out")
    return()
endif()

set(TRB_USB_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-usb-prefix")
set(TRB_USB_WINE_WORK "${CMAKE_BINARY_DIR}/usb-under-wine")
set(TRB_USB_HOST
    "${TRB_UMOCKDEV_WRAPPER}" "${TRB_CONTROLLER_HOST}" --no-manufacturer
    --setup "${CMAKE_CURRENT_SOURCE_DIR}/wine-testbed.sh start"
    --teardown "${CMAKE_CURRENT_SOURCE_DIR}/wine-testbed.sh stop")
set(TRB_USB_WINE_ENVIRONMENT "WINEPREFIX=${TRB_USB_WINE_PREFIX}" "WINEDEBUG=-all" "TRB_DISPLAY_FILE=${CMAKE_BINARY_DIR}/test-display/display")

# The programs' windows go to the run's private X display.
# Without the Linux tree's host (and tool) the tests are skipped, saying so.
# (No semicolons: the command line is a CMake list.)
set(TRB_USB_WINE_DISPLAY
    "[ -x \"${TRB_CONTROLLER_HOST}\" ] && [ -x \"${TRB_LINUX_MAKE_UPDATE_FILE}\" ] || exec sh -c 'echo skipped: the Linux tree has not built its emulated controller host and make-update-file && exit 77' && DISPLAY=\"$(cat \"$TRB_DISPLAY_FILE\")\" && export DISPLAY")

# trb_usb_wine_add(<name> <work folder> <host options and command...>) runs the
# host in a fresh work folder; all of them share the one Wine folder, one at a time.
function(trb_usb_wine_add name work)
    add_test(NAME "${name}"
        COMMAND sh -c "${TRB_USB_WINE_DISPLAY} && rm -rf \"$1\" && mkdir -p \"$1\" && shift && exec \"$@\"" sh "${work}" ${TRB_USB_HOST} ${ARGN})
    set_tests_properties("${name}" PROPERTIES
        ENVIRONMENT "${TRB_USB_WINE_ENVIRONMENT}"
        FIXTURES_REQUIRED x_display
        RESOURCE_LOCK wine_usb_testbed
        SKIP_RETURN_CODE 77
        # The first run makes the Wine folder, which takes a minute or two.
        TIMEOUT 900)
endfunction()

trb_usb_wine_add("usb.UsbDeviceLibraryUnderWine.TellsALaterControllerAndItsRemovalAndLeavesTheLookAlikeAlone"
    "${TRB_USB_WINE_WORK}/library"
    --look-alike --plug-in-when "${TRB_USB_WINE_WORK}/library/marker" --remove-at-poll 3
    -- wine "$<TARGET_FILE:trb_usb_wine_check>" "Z:${TRB_USB_WINE_WORK}/library/marker")

# The controller's serial as HID_GetDeviceIdentity gives it (Wine gives no port), and
# its claim (a named object keyed by the serial): another process is refused it and told the
# holder, until it is given back. Nothing may reach the controller.
trb_usb_wine_add("usb.UsbDeviceLibraryUnderWine.GivesTheSerialAndRefusesTheClaimToAnotherProcessUntilGivenBack"
    "${TRB_USB_WINE_WORK}/claim"
    --serial KELO7-0001 --expect-requests 0
    -- wine "$<TARGET_FILE:trb_usb_wine_claim_check>" KELO7-0001)

# The real program (its .exe) through Wine's HID stack. The update file is
# made by the Linux tree's tool (TRB_LINUX_MAKE_UPDATE_FILE).
set(TRB_USB_WINE_FILE_ARGS "1.05 20261209 seed:105")
set(TRB_USB_WINE_PROGRAM "$<TARGET_FILE:TRBKelo7UpdateProgram>")

# trb_usb_wine_add_update(<name> <work folder> <host options...>) runs the
# program without a window (--terminal --yes) on an update file of its own.
function(trb_usb_wine_add_update name work)
    add_test(NAME "${name}"
        COMMAND sh -c "${TRB_USB_WINE_DISPLAY} && rm -rf \"$1\" && mkdir -p \"$1\" && \"$2\" ${TRB_USB_WINE_FILE_ARGS} \"$1/trbkelo7__v105.bin\" && shift 2 && exec \"$@\""
            sh "${work}" "${TRB_LINUX_MAKE_UPDATE_FILE}" ${TRB_USB_HOST} ${ARGN}
            -- wine "${TRB_USB_WINE_PROGRAM}" --terminal --yes "Z:${work}/trbkelo7__v105.bin")
    set_tests_properties("${name}" PROPERTIES
        ENVIRONMENT "${TRB_USB_WINE_ENVIRONMENT}"
        FIXTURES_REQUIRED x_display
        RESOURCE_LOCK wine_usb_testbed
        SKIP_RETURN_CODE 77
        TIMEOUT 1200)
endfunction()

trb_usb_wine_add_update("usb.WholeUsbPathUnderWine.TheRealProgramWritesTheWholeFileAndLeavesTheLookAlikeAlone"
    "${TRB_USB_WINE_WORK}/full"
    --look-alike --update-file "${TRB_USB_WINE_WORK}/full/trbkelo7__v105.bin" --expect-text "result: complete")
trb_usb_wine_add_update("usb.WholeUsbPathUnderWine.UnpluggedMidWriteEndsIn0x0E37WithNothingSentAfter"
    "${TRB_USB_WINE_WORK}/unplugged"
    --remove-at-poll 5 --expect-status 3 --expect-text "result: error 0x0E37")

# The window's run with no controller at the start: one plugged in after the
# program has looked for it in vain reaches it as an arrival notice.
trb_usb_wine_add("usb.WholeUsbPathUnderWine.AControllerPluggedInAfterTheStartIsTakenUp"
    "${TRB_USB_WINE_WORK}/arrival"
    --plug-in-after-text "controller not connected" --end-after-text "controller connected: node"
    --expect-status 137
    -- wine "${TRB_USB_WINE_PROGRAM}")
