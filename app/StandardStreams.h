#pragma once

/**
    Makes the standard streams safe to use before anything else runs.

    A descriptor 0, 1 or 2 that was closed when the program started is opened
    on the null device: otherwise the first file or socket the program (or the
    framework) opens takes its number, and whatever is meant for that stream
    lands in it. SIGPIPE is ignored, so that a stream whose reader went away
    (a pipe into `head`, a journal that stopped) fails its write instead of
    ending the program.

    On Windows the program takes over the console of a command prompt that
    started it for each stream not redirected (so --help shows there), and stderr
    also goes to a support log file of this run under %LOCALAPPDATA% (the last few
    runs are kept), through a thread of its own.

    Call it first in main(), on the main thread, before any other thread or
    descriptor exists. Never fails: a descriptor that cannot be opened stays
    closed.
*/
void prepareStandardStreams() noexcept;

/**
    Waits, timeoutMs at most, until what was written to stderr has reached where
    the platform sends it on. On Windows a thread of the program's own copies
    stderr to the console and to the support log's file; on Linux stderr goes
    straight to where it points, and nothing waits. For a program about to end at
    once, after its last line. Any thread; never fails.
*/
void settleStandardStreams (int timeoutMs) noexcept;
