#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <string>
#include <vector>

/**
    The program's command line:

        PROGRAM [--help | --version] [--serial SERIAL] [--sha256 HEX] [--] [FILE-OR-FOLDER]
        PROGRAM --terminal [--yes] [--json] [--language CODE] [--serial SERIAL] [--sha256 HEX] [--] [FILE-OR-FOLDER]

    FILE-OR-FOLDER names the update file to take, or a folder to search for
    one ahead of the usual places (the desktop entry passes the file the user
    chose). "--" ends the options, for a path that begins with "-".
    --terminal runs the update as plain lines in a terminal, without a display;
    --yes, --json and --language belong to it and are refused without it.
    --sha256 HEX (64 hex digits, either case) names the SHA-256 the update file
    must have, as its maker published it beside the download.
    --serial SERIAL names the controller to update by its USB serial, for when
    several are connected (both front-ends).
*/
struct CommandLine
{
    enum class Action
    {
        run,
        help,
        version,
        usageError
    };

    Action action = Action::run;
    juce::String updateFilePath; // as given, as text; empty when none was
    std::string updateFileBytes; // the same path's bytes as given (parseBytes only)
    juce::String problem; // what was not understood, for usageError
    bool terminal = false; // --terminal: plain lines instead of the window
    bool yes = false; // --yes: start the write without asking
    bool json = false; // --json: one JSON object per event on stdout
    int language = -1; // --language CODE: the catalogue language's index, or -1 for the user's
    juce::String serial; // --serial SERIAL: the controller to update; empty: the only one, or ask
    juce::String sha256; // --sha256 HEX: the digest the file must have, lower-case; empty for any

    /** Reads the arguments after the program's name. Never fails: what it does not
        understand becomes usageError with a problem. Any thread. */
    static CommandLine parse (const juce::StringArray& arguments);

    /** parse of arguments as the process got them, as bytes (they need not be
        UTF-8): read as text (ExternalText), and the path's own bytes kept in
        updateFileBytes, by which the file is opened. Any thread. */
    static CommandLine parseBytes (const std::vector<std::string>& arguments);

    /** The arguments after the program's name that main() received, as bytes;
        empty before answerBeforeStart ran. Main thread. */
    static const std::vector<std::string>& processArguments();

    /** What --help prints, naming the program as it was started. Any thread. */
    static juce::String helpText (const juce::String& programName);

    /** What --version prints. Any thread. */
    static juce::String versionText();
};

/**
    Everything that is answered before the framework starts its window system:
    prints --help and --version to stdout, and a command line that is not
    understood or a display that cannot be opened to stderr (one line each).

    arguments is the process's command line as bytes, the program's name first
    (processArgumentBytes). Returns the exit status to end with, or nothing when
    the program is to start. Called by main() on the main thread before anything
    else.
*/
std::optional<int> answerBeforeStart (const std::vector<std::string>& arguments);
