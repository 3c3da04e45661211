#include "app/CommandLine.h"

#include "app/DisplayProbe.h"
#include "app/ProgramIdentity.h"
#include "log/PlatformAdvice.h"
#include "session/ExitStatus.h"
#include "session/Outcomes.h"
#include "terminal/JsonEventWriter.h"
#include "text/ExternalText.h"
#include "text/LanguageDetection.h"

#include <cstdlib>
#include <iostream>

namespace
{
constexpr int kSha256Digits = 64;

// The arguments main() received, kept before the framework starts: its own
// copy of them is text, in which a name that is not UTF-8 is lost.
std::vector<std::string> rememberedArguments;

// parse, telling which argument became the path (-1: none).
CommandLine parseArguments (const juce::StringArray& arguments, int& pathIndex)
{
    using Action = CommandLine::Action;
    CommandLine result;
    bool optionsEnded = false;
    pathIndex = -1;

    auto fail = [&result] (const juce::String& problem)
    {
        result.action = Action::usageError;
        result.problem = problem;
        return result;
    };

    for (int index = 0; index < arguments.size(); ++index)
    {
        const auto& argument = arguments.getReference (index);

        if (! optionsEnded && argument == "--")
        {
            optionsEnded = true;
        }
        else if (! optionsEnded && argument == "--help")
        {
            // The first of --help and --version wins; nothing after them is read.
            result.action = Action::help;
            return result;
        }
        else if (! optionsEnded && argument == "--version")
        {
            result.action = Action::version;
            return result;
        }
        else if (! optionsEnded && argument == "--terminal")
        {
            result.terminal = true;
        }
        else if (! optionsEnded && (argument == "--list" || argument == "--check"))
        {
            // Both run without a display, as the terminal does.
            (argument == "--list" ? result.list : result.check) = true;
            result.terminal = true;
        }
        else if (! optionsEnded && argument == "--yes")
        {
            result.yes = true;
        }
        else if (! optionsEnded && argument == "--json")
        {
            result.json = true;
        }
        else if (! optionsEnded && (argument == "--language" || argument.startsWith ("--language=")))
        {
            const auto codeIsInline = argument.startsWith ("--language=");

            if (! codeIsInline && index + 1 >= arguments.size())
                return fail ("'--language' needs a language code (" + languageCodeList() + ")");

            const auto code = codeIsInline ? argument.fromFirstOccurrenceOf ("=", false, false) : arguments[++index];
            result.language = languageForCode (code);

            if (result.language < 0)
                return fail ("unknown language code '" + code + "' (one of " + languageCodeList() + ")");
        }
        else if (! optionsEnded && (argument == "--sha256" || argument.startsWith ("--sha256=")))
        {
            const auto digestIsInline = argument.startsWith ("--sha256=");

            if (! digestIsInline && index + 1 >= arguments.size())
                return fail ("'--sha256' needs the update file's SHA-256 (64 hex digits)");

            const auto digest = digestIsInline ? argument.fromFirstOccurrenceOf ("=", false, false) : arguments[++index];

            if (digest.length() != kSha256Digits || ! digest.containsOnly ("0123456789abcdefABCDEF"))
                return fail ("'" + digest + "' is not a SHA-256 (64 hex digits)");

            result.sha256 = digest.toLowerCase();
        }
        else if (! optionsEnded && (argument == "--serial" || argument.startsWith ("--serial=")))
        {
            const auto serialIsInline = argument.startsWith ("--serial=");

            if (! serialIsInline && index + 1 >= arguments.size())
                return fail ("'--serial' needs the controller's serial (as the list of controllers shows it)");

            result.serial = serialIsInline ? argument.fromFirstOccurrenceOf ("=", false, false) : arguments[++index];

            if (result.serial.isEmpty())
                return fail ("'--serial' needs the controller's serial (as the list of controllers shows it)");
        }
        else if (! optionsEnded && argument.startsWith ("-") && argument != "-")
        {
            return fail ("unknown option '" + argument + "'");
        }
        else if (argument.isEmpty())
        {
            return fail ("an empty path was given");
        }
        else if (result.updateFilePath.isNotEmpty())
        {
            return fail ("only one update file or folder can be given");
        }
        else
        {
            result.updateFilePath = argument;
            pathIndex = index;
        }
    }

    if (result.list && result.check)
        return fail ("'--list' and '--check' cannot be given together");

    if (result.list && (result.updateFilePath.isNotEmpty() || result.sha256.isNotEmpty()))
        return fail ("'--list' takes no update file");

    // Refused rather than ignored: a script asking for one controller's line would
    // otherwise read every controller's and might take the first for the one it named.
    if (result.list && result.serial.isNotEmpty())
        return fail ("'--list' names every connected controller and takes no '--serial' (use '--check --serial')");

    // The terminal's options mean nothing to the window: refused rather than ignored,
    // so that a script that forgot --terminal does not wait for a window.
    if (! result.terminal)
        for (auto [given, name] : { std::pair { result.yes, "--yes" }, std::pair { result.json, "--json" }, std::pair { result.language >= 0, "--language" } })
            if (given)
                return fail ("'" + juce::String (name) + "' needs '--terminal'");

    return result;
}
} // namespace

CommandLine CommandLine::parse (const juce::StringArray& arguments)
{
    int pathIndex = -1;
    return parseArguments (arguments, pathIndex);
}

CommandLine CommandLine::parseBytes (const std::vector<std::string>& arguments)
{
    juce::StringArray texts;

    for (const auto& argument : arguments)
        texts.add (ExternalText::fromBytes (argument));

    int pathIndex = -1;
    auto result = parseArguments (texts, pathIndex);

    if (pathIndex >= 0)
        result.updateFileBytes = arguments[static_cast<size_t> (pathIndex)];

    return result;
}

const std::vector<std::string>& CommandLine::processArguments()
{
    return rememberedArguments;
}

juce::String CommandLine::helpText (const juce::String& programName)
{
    juce::String text;
    text << "Usage: " << programName << " [--help | --version] [--serial SERIAL] [--sha256 HEX]\n"
         << "           [FILE-OR-FOLDER]\n"
         << "       " << programName << " --terminal [--yes] [--json] [--language CODE]\n"
         << "           [--serial SERIAL] [--sha256 HEX] [FILE-OR-FOLDER]\n"
         << "       " << programName << " --check [--json] [--language CODE] [--serial SERIAL]\n"
         << "           [--sha256 HEX] [FILE-OR-FOLDER]\n"
         << "       " << programName << " --list [--json] [--language CODE]\n"
         << "Writes a firmware update into a TRB-Kelo7 USB DJ controller.\n"
         << "\n"
         << "The update file (trbkelo7__vNNN.bin) is FILE, or the newest one in FOLDER;\n"
         << "without either, or when FOLDER holds none, the newest one in the first of\n"
         << "these folders that holds one: the program's folder, the current folder,\n"
         << PlatformAdvice::downloadFolder() << ".\n"
         << "\n"
         << "  --help     show this help and exit\n"
         << "  --version  show the version and exit\n"
         << "  --terminal run in the terminal, as plain lines, without a display\n"
         << "  --yes      (with --terminal) start the write without asking\n"
         << "  --json     (with --terminal) one JSON object per event on stdout;\n"
         << "             the plain lines then go to stderr\n"
         << "  --language CODE  (with --terminal) the language of the lines:\n"
         << "             " << languageCodeList() << "\n"
         << "  --serial SERIAL  update the controller with this USB serial, when\n"
         << "             several are connected (without it, the program asks)\n"
         << "  --list     name every connected controller (serial, port, version)\n"
         << "             and exit; implies --terminal, writes nothing\n"
         << "  --check    check the file and the controller and tell what an update\n"
         << "             would write (exit status " << EXIT_CHECK_WOULD_WRITE << "), or that it is up to date (0);\n"
         << "             implies --terminal, writes nothing\n"
         << "  --sha256 HEX  the update file's SHA-256 as its maker publishes it\n"
         << "             (64 hex digits); a file with another one is refused\n"
         << "             (error 0x0E06) before anything is sent to the controller\n"
         << "\n"
         << "What the program does is logged on stderr, one line per event.\n"
         << "\n"
         << "Exit status:\n"
         << "  " << EXIT_UPDATED << "  the update was written (the completion screen); --list ended;\n"
         << "     --check found the controller up to date\n"
         << "  " << EXIT_CANNOT_START << "  no display, or the display cannot be opened\n"
         << "  " << EXIT_USAGE << "  the command line was not understood\n"
         << "  " << EXIT_UPDATE_FAILED << "  an error screen was shown (its error ID is on stderr)\n"
         << "  " << EXIT_LEFT_BEFORE_WRITE << "  the program was left before the write started\n"
         << "  " << EXIT_WRITE_INTERRUPTED << "  the program was told to quit during the write\n"
         << "  " << EXIT_ANOTHER_UPDATER << "  another updater of this user is running and did not answer\n"
         << "     (with --terminal: another updater of this user is running), or\n"
         << "     another program holds the controller: nothing was sent\n"
         << "  " << EXIT_NOT_TAKEN << "  written, but the controller then reported another version\n"
         << "  " << EXIT_NOT_CHOSEN << "  several controllers are connected and none was chosen, or\n"
         << "     --serial names none of them: nothing was sent\n"
         << "  " << EXIT_CHECK_WOULD_WRITE << " --check: an update would write; nothing was written\n";
    return text;
}

juce::String CommandLine::versionText()
{
    return juce::String (kProgramName) + " " + kProgramVersion + "\n";
}

namespace
{
// "--json" among the options (before "--"), however the rest was understood.
bool asksForJson (const std::vector<std::string>& arguments)
{
    for (const auto& argument : arguments)
    {
        if (argument == "--")
            return false;

        if (argument == "--json")
            return true;
    }

    return false;
}
} // namespace

std::optional<int> answerBeforeStart (const std::vector<std::string>& arguments)
{
    rememberedArguments.clear();

    if (! arguments.empty())
        rememberedArguments.assign (arguments.begin() + 1, arguments.end());

    const auto programName = ! arguments.empty() ? juce::File::createFileWithoutCheckingPath (ExternalText::fromBytes (arguments.front())).getFileName()
                                                 : juce::String (kProgramName);
    const auto commandLine = CommandLine::parseBytes (rememberedArguments);

    switch (commandLine.action)
    {
        case CommandLine::Action::help:
            std::cout << CommandLine::helpText (programName) << std::flush;
            return EXIT_UPDATED;

        case CommandLine::Action::version:
            std::cout << CommandLine::versionText() << std::flush;
            return EXIT_UPDATED;

        case CommandLine::Action::usageError:
        {
            // The problem quotes an argument: nothing of it reaches the terminal as a control sequence.
            const auto line = ExternalText::withControlsEscaped (programName + ": " + commandLine.problem + " (try '" + programName + " --help')");
            std::cerr << line << std::endl;

            // A script that asked for JSON gets its result line too, whatever else was wrong.
            if (asksForJson (rememberedArguments))
                JsonEventWriter ([] (const juce::String& event)
                                 { std::cout << event << std::endl; })
                    .result (Outcomes::forEnd (RunEnd::usage).resultName, ST_INITIAL, EXIT_USAGE, line);

            return EXIT_USAGE;
        }

        case CommandLine::Action::run:
            break;
    }

    // The terminal front-end never opens the display, so none is needed.
    if (commandLine.terminal)
        return std::nullopt;

    const auto displayProblem = findDisplayProblem();

    if (displayProblem.isNotEmpty())
    {
        std::cerr << programName << ": " << displayProblem << std::endl;

        // A probe still inside the X library would meet the exit handlers freeing
        // what it uses: end without them (the line above is already out).
        if (displayProbeIsStillWaiting())
            std::_Exit (EXIT_CANNOT_START);

        return EXIT_CANNOT_START;
    }

    return std::nullopt;
}
