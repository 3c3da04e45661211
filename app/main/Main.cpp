#include "app/Application.h"
#include "app/CommandLine.h"

JUCE_CREATE_APPLICATION_DEFINE (Application)

// The framework's entry point, with what needs no window answered first:
// --help, --version, a command line not understood and a missing display end
// here, before the framework opens its window system.
int main (int argc, char* argv[])
{
    if (const auto exitStatus = answerBeforeStart (argc, argv))
        return *exitStatus;

    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
