#pragma once

// The tests of the neutral core set and clear environment variables (a
// scenario file, a locale) with the POSIX calls; on Windows the C library has
// _putenv_s instead. Included ahead of every test file of the Windows tree.

#include <cstdlib>

inline int setenv (const char* name, const char* value, int overwrite)
{
    if (overwrite == 0 && std::getenv (name) != nullptr)
        return 0;

    return _putenv_s (name, value);
}

inline int unsetenv (const char* name)
{
    // An empty value removes the variable.
    return _putenv_s (name, "");
}
