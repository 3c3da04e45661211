#pragma once

/*
    Carries the device library's notices to the message thread.

    The "window" handed to HID_SetCallback is a notice receiver, and a library
    posts to it with trbPostNotice() from any thread; the notices reach the
    receiver's procedure (hidWindowProc) on the message thread in the order
    they were posted. On Windows the receiver is a hidden window and a notice
    is a window message posted to it; elsewhere the receiver is a handle of
    ours whose notices travel through the framework's message queue.
*/

#include <stdint.h>

// clang-format off
#ifdef __cplusplus
extern "C" {
#endif

/** Posts one notice to the receiver whose handle the library was given. Any thread; never
    blocks; a null window or a receiver that has been destroyed drops the notice. */
void trbPostNotice (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

#ifdef __cplusplus
}
// clang-format on

/** What a receiver hands each notice to, in the shape of a window procedure. */
using NoticeProcedure = intptr_t (*) (void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

/** The program's module handle, as the device library's HID_Initialize wants it; null when
    there is none. Any thread. */
void* noticeModuleHandle();

/** Creates a receiver (the hidden window) whose notices go to procedure on the message thread.
    Returns its handle for HID_SetCallback, or null when none could be made (no message
    loop, no procedure). Message thread. */
void* createNoticeReceiver (void* instance, NoticeProcedure procedure);

/** Destroys a receiver made by createNoticeReceiver. Notices already posted to it and any
    posted later are dropped. A null or unknown handle is ignored. Message thread. */
void destroyNoticeReceiver (void* window);
#endif
