#include "app/Application.h"

// The framework's entry point: main() creates one Application and runs it.
START_JUCE_APPLICATION (Application)
