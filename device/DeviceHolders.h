#pragma once

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

/** Another process that has a device's node open. */
struct DeviceHolder final
{
    int pid = 0;
    juce::String name; // the process's short name (comm), as text
};

/** A process as far as this user may see it. */
struct ProcessDescription final
{
    int pid = 0;
    juce::String name; // its short name (comm; the program's file name on Windows)
    juce::String user; // the user it runs as; empty where it may not be seen
};

/**
    The other processes that have the file nodePath names open, as far as this user
    may look at them, ordered by process ID: so the support log can name a program
    (a DJ program, a script) that may talk to the controller during an update.

    An open file counts when it is the same device as nodePath (same device
    number, so another name of the device counts too) or, for a node that is not
    a device, the same file. The program's own process is never named; a process
    that holds the node several times is named once.

    nodePath must be absolute: a relative path, or one that names nothing, gives
    no holders. Processes of other users (whose open files this user may not
    list) and processes that end during the scan are passed over without a word;
    without a readable /proc nothing is found. Any thread; reads /proc, and blocks
    only as long as looking at the files those processes hold does.
*/
std::vector<DeviceHolder> findOtherProcessesHolding (const std::string& nodePath);

/** False where the system gives no cheap way to learn which processes hold a device
    open (Windows): findOtherProcessesHolding then finds nobody, which says nothing
    about the device, and the support log says that it is not known. Any thread. */
bool otherDeviceHoldersCanBeFound() noexcept;

/** The name and user of the process pid, as far as this user may see them (the name alone, or
    nothing, for a process this user may not look at; pid is kept either way). Used to name the
    holder of a claim that the device library could only give a process ID for. Any thread. */
ProcessDescription describeProcess (int pid);
