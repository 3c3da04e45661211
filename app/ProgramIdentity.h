#pragma once

// The program's name and version: what the framework keys its instance on, what
// --version prints, and what the support log's readers see.
// Both come from the build (the project's name for the program and its version),
// through the framework's definitions that every target of ours is compiled with.
inline constexpr const char* kProgramName = JUCE_APPLICATION_NAME_STRING;
inline constexpr const char* kProgramVersion = JUCE_APPLICATION_VERSION_STRING;
