#pragma once

#include <unistd.h>

/** Owns a POSIX file descriptor and closes it on every way out of a scope. A
    negative descriptor (a failed open) is held and never closed. */
struct ScopedDescriptor final
{
    explicit ScopedDescriptor (int fdToOwn) noexcept
        : fd (fdToOwn)
    {
    }

    ~ScopedDescriptor()
    {
        if (fd >= 0)
            ::close (fd);
    }

    ScopedDescriptor (const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator= (const ScopedDescriptor&) = delete;

    const int fd;
};
