#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/**
    The file system by the bytes of its names, for the paths that come from
    outside the program (the command line, folder listings, the working folder,
    the environment, configuration files). A name need not be UTF-8: such a
    path is opened and listed by its bytes and only shown as text
    (ExternalText), so a file whose name is not UTF-8 can still be taken.
*/
struct NativeFiles final
{
    /** What a path names, links followed. */
    enum class Kind
    {
        nothing, // no entry, a dangling link, or one that cannot be looked at
        folder,
        other // a file, or anything else that is not a folder
    };

    /** What path names. Any thread; blocks only on the file system. */
    static Kind kindOf (const std::string& path);

    /** The size in bytes of what path names (links followed); 0 when it
        names nothing. Any thread. */
    static int64_t sizeOf (const std::string& path);

    /** The entries of folder whose names match the shell pattern (case
        ignored, as the framework's listing does), in the order the file system
        lists them: full paths (folder + "/" + name). An entry that names
        nothing (a dangling link, one gone meanwhile) or a folder is passed
        over. An unreadable folder lists nothing. Any thread. */
    static std::vector<std::string> listFiles (const std::string& folder, const char* pattern);

    /** The working folder's path; empty when it cannot be had. Any thread. */
    static std::string currentFolder();

    /** The folder of the running program; empty when it cannot be had. Any thread. */
    static std::string programFolder();

    /** The user's home folder: $HOME when it is absolute, else the account's. Any thread. */
    static std::string homeFolder();

    /** The folder of the user's configuration files: $XDG_CONFIG_HOME when it is
        absolute, else homeFolder()'s
        ".config". Any thread. */
    static std::string configFolder();

    /** The folder the system itself keeps for this user's downloads (on Windows
        the Downloads known folder, wherever the user moved it); nothing where the
        system keeps no such setting of its own (Linux, whose user-dirs file
        decides instead). Any thread. */
    static std::optional<std::string> knownDownloadFolder();

    /** path with relative joined to it as the framework joins a child path:
        an absolute relative replaces it, "." and empty components are dropped
        and ".." takes one component back. Any thread. */
    static std::string join (const std::string& path, const std::string& relative);

    /** The last component of path (the name of the file it names), as bytes:
        what follows the last separator, or the whole path when it has none.
        Any thread; never fails. */
    static std::string nameOf (const std::string& path);

    /** The text shown for a path (ExternalText), as a juce::File. Any thread. */
    static juce::File shown (const std::string& path);

    /** The bytes of the path a juce::File names (its UTF-8). Any thread. */
    static std::string bytesOf (const juce::File& file);

    /**
        The content of a small configuration file: opened without waiting (a
        FIFO or a device named there never blocks), links followed, and only a
        regular file of at most maxBytes is read. Returns nothing when path
        names nothing; otherwise when anything else is found, sets problem to a
        few words on what it is and returns nothing. Any thread.
    */
    static std::optional<std::string> readSmallRegularFile (const std::string& path, size_t maxBytes, juce::String& problem);

    NativeFiles() = delete;
};
