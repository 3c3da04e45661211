// Feeds arbitrary bytes as the content of user-dirs.dirs to the parsing that
// finds the download folder. Any crash, out-of-bounds access, or a folder that
// is not an absolute path free of null bytes is a find.

#include "update/UpdateFileSearch.h"

#include <string>

namespace
{
void require (bool condition)
{
    if (! condition)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const std::string content (reinterpret_cast<const char*> (data), size);

    for (const auto* home : { "/home/u", "/" })
    {
        if (const auto folder = downloadFolderFromUserDirs (content, home))
        {
            require (! folder->empty() && folder->front() == '/');
            require (folder->find ('\0') == std::string::npos);
        }
    }

    return 0;
}
