#include "app/CommandLine.h"

#include "app/DisplayProbe.h"
#include "app/ExitStatus.h"
#include "app/ProgramIdentity.h"

#include <iostream>

CommandLine CommandLine::parse (const juce::StringArray& arguments)
{
    CommandLine result;
    bool optionsEnded = false;

    auto fail = [&result] (const juce::String& problem)
    {
        result.action = Action::usageError;
        result.problem = problem;
        return result;
    };

    for (const auto& argument : arguments)
    {
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
        }
    }

    return result;
}

juce::String CommandLine::helpText (const juce::String& programName)
{
    juce::String text;
    text << "Usage: " << programName << " [--help | --version] [FILE-OR-FOLDER]\n"
         << "Writes a firmware update into a TRB-Kelo7 USB DJ controller.\n"
         << "\n"
         << "The update file (trbkelo7__vNNN.bin) is FILE, or the newest one in FOLDER;\n"
         << "without either, or when FOLDER holds none, the newest one in the first of\n"
         << "these folders that holds one: the program's folder, the current folder,\n"
         << "the download folder (XDG_DOWNLOAD_DIR, else ~/Downloads).\n"
         << "\n"
         << "  --help     show this help and exit\n"
         << "  --version  show the version and exit\n"
         << "\n"
         << "What the program does is logged on stderr, one line per event.\n"
         << "\n"
         << "Exit status:\n"
         << "  " << EXIT_UPDATED << "  the update was written (the completion screen)\n"
         << "  " << EXIT_CANNOT_START << "  no display, or the display cannot be opened\n"
         << "  " << EXIT_USAGE << "  the command line was not understood\n"
         << "  " << EXIT_UPDATE_FAILED << "  an error screen was shown (its error ID is on stderr)\n"
         << "  " << EXIT_LEFT_BEFORE_WRITE << "  the program was left before the write started\n"
         << "  " << EXIT_WRITE_INTERRUPTED << "  the program was told to quit during the write\n"
         << "  " << EXIT_ANOTHER_UPDATER << "  another updater of this user is running and did not answer\n";
    return text;
}

juce::String CommandLine::versionText()
{
    return juce::String (kProgramName) + " " + kProgramVersion + "\n";
}

std::optional<int> answerBeforeStart (int argc, const char* const* argv)
{
    juce::StringArray arguments;

    for (int i = 1; i < argc; ++i)
        arguments.add (juce::String::fromUTF8 (argv[i]));

    const auto programName = argc > 0 ? juce::File::createFileWithoutCheckingPath (juce::String::fromUTF8 (argv[0])).getFileName()
                                      : juce::String (kProgramName);
    const auto commandLine = CommandLine::parse (arguments);

    switch (commandLine.action)
    {
        case CommandLine::Action::help:
            std::cout << CommandLine::helpText (programName) << std::flush;
            return EXIT_UPDATED;

        case CommandLine::Action::version:
            std::cout << CommandLine::versionText() << std::flush;
            return EXIT_UPDATED;

        case CommandLine::Action::usageError:
            std::cerr << programName << ": " << commandLine.problem << " (try '" << programName << " --help')" << std::endl;
            return EXIT_USAGE;

        case CommandLine::Action::run:
            break;
    }

    const auto displayProblem = findDisplayProblem();

    if (displayProblem.isNotEmpty())
    {
        std::cerr << programName << ": " << displayProblem << std::endl;
        return EXIT_CANNOT_START;
    }

    return std::nullopt;
}
