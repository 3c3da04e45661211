#include "app/ProcessArguments.h"

std::vector<std::string> processArgumentBytes (int argc, const char* const* argv)
{
    std::vector<std::string> arguments;

    for (int i = 0; i < argc; ++i)
        arguments.emplace_back (argv[i]);

    return arguments;
}
