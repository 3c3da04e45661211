#pragma once

#include "app/CommandLine.h"

#include <memory>

class TerminalFrontEnd;

/**
    The program run with --terminal: the terminal front-end (terminal/TerminalFrontEnd.h)
    on the framework's message loop alone, without its window system, so that no
    display is opened and none is needed (SSH, a text console, a container).

    It keeps to the rules of the window's run: the system's quit signals take the
    orderly path (a second one ends the program at once with the status the first
    would have given), and one updater runs per user: a terminal run that finds the
    per-user lock held by another updater (a window or another terminal run) says
    which process holds it and ends with EXIT_ANOTHER_UPDATER without touching the
    controller; while it holds the lock, no other launch writes. --list and --check
    write nothing and ask a controller only under its claim: they take no lock.
*/
struct TerminalApplication final
{
    /** Runs the whole update as commandLine asks and returns the exit status (session/ExitStatus.h).
        Main thread, which becomes the message thread; before any other framework use. */
    static int run (const CommandLine& commandLine);

    TerminalApplication() = delete;

private:
    // --list: names the connected controllers and returns the exit status.
    static int runList (const CommandLine& commandLine);

    // Runs the front-end on the message loop until it has finished; exitStatus is set then.
    static void runFrontEnd (const CommandLine& commandLine, std::unique_ptr<TerminalFrontEnd>& frontEnd, int& exitStatus);
};
