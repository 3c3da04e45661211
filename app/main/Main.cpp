#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/ProcessArguments.h"
#include "app/StandardStreams.h"
#include "app/TerminalApplication.h"

JUCE_CREATE_APPLICATION_DEFINE (Application)

// The framework's entry point, with what needs no window answered first:
// --help, --version, a command line not understood and a missing display end
// here, before the framework opens its window system, and --terminal runs
// without it. Before anything, the standard streams are made safe to write to.
int main (int argc, char* argv[])
{
    prepareStandardStreams();

    if (const auto exitStatus = answerBeforeStart (processArgumentBytes (argc, argv)))
        return *exitStatus;

    if (const auto commandLine = CommandLine::parseBytes (CommandLine::processArguments()); commandLine.terminal)
        return TerminalApplication::run (commandLine);

    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
#if JUCE_WINDOWS
    // The framework reads the command line from the system (in UTF-16) itself.
    return juce::JUCEApplicationBase::main();
#else
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
#endif
}
