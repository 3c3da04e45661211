#include "app/ProcessArguments.h"

#include "platform/WidePath.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>

std::vector<std::string> processArgumentBytes (int argc, const char* const* argv)
{
    int count = 0;
    auto** const wide = ::CommandLineToArgvW (::GetCommandLineW(), &count);
    std::vector<std::string> arguments;

    if (wide == nullptr)
    {
        for (int i = 0; i < argc; ++i)
            arguments.emplace_back (argv[i]);

        return arguments;
    }

    for (int i = 0; i < count; ++i)
        arguments.push_back (WidePath::fromWide (wide[i], std::wcslen (wide[i])));

    ::LocalFree (wide);
    return arguments;
}
