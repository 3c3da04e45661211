#pragma once

/*
    Carries the device library's notices to the message thread.

    On Windows the library posts window messages to a hidden window. Here the
    "window" handed to HID_SetCallback is a notice receiver of ours, and a
    library posts to it with trbPostNotice() from any thread; the notices reach
    hidWindowProc on the message thread in the order they were posted.
*/

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Posts one notice to the receiver whose handle the library was given. Any thread; never
    blocks; a null window or a receiver that has been destroyed drops the notice. */
void trbPostNotice (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

#ifdef __cplusplus
}
#endif
