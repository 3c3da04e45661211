#pragma once

#include <cstdint>

// The program's exit status, for scripts and for whoever reads the journal.
// The status of a run that showed its window follows from the update's status
// at the moment the program ended (exitStatusFor).
inline constexpr int EXIT_UPDATED = 0; // the completion screen was reached (also --help, --version)
inline constexpr int EXIT_CANNOT_START = 1; // no display, or one that cannot be opened
inline constexpr int EXIT_USAGE = 2; // the command line was not understood
inline constexpr int EXIT_UPDATE_FAILED = 3; // an error screen was reached; its error ID is on stderr
inline constexpr int EXIT_LEFT_BEFORE_WRITE = 4; // the program ended before the write started
inline constexpr int EXIT_WRITE_INTERRUPTED = 5; // the program was told to quit, or lost its display, while writing
inline constexpr int EXIT_ANOTHER_UPDATER = 6; // another updater holds the lock (and did not answer), or the controller's claim
inline constexpr int EXIT_NOT_TAKEN = 7; // written, but the controller then reported another version
inline constexpr int EXIT_NOT_CHOSEN = 8; // several controllers and none chosen, or --serial matches none

/** The exit status of a run that ended in the given update status. Any thread. */
int exitStatusFor (int32_t status) noexcept;

/** A few words on what an exit status means, for the support log. Any thread. */
const char* exitStatusMeaning (int exitStatus) noexcept;
