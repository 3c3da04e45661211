#pragma once

#include <windows.h>

#include <utility>

/** Owns a Windows handle and closes it on every way out of a scope. Both of the
    values Windows uses for "no handle" (null and INVALID_HANDLE_VALUE) are held
    and never closed. */
class ScopedHandle final
{
public:
    ScopedHandle() = default;

    explicit ScopedHandle (HANDLE handleToOwn) noexcept
        : handle (handleToOwn)
    {
    }

    ~ScopedHandle() { reset(); }

    ScopedHandle (ScopedHandle&& other) noexcept
        : handle (std::exchange (other.handle, nullptr))
    {
    }

    ScopedHandle& operator= (ScopedHandle&& other) noexcept
    {
        reset (std::exchange (other.handle, nullptr));
        return *this;
    }

    ScopedHandle (const ScopedHandle&) = delete;
    ScopedHandle& operator= (const ScopedHandle&) = delete;

    HANDLE get() const noexcept { return handle; }
    bool isValid() const noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

    void reset (HANDLE newHandle = nullptr) noexcept
    {
        if (isValid())
            ::CloseHandle (handle);

        handle = newHandle;
    }

private:
    HANDLE handle = nullptr;
};
