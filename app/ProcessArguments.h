#pragma once

#include <string>
#include <vector>

/**
    The process's command line as bytes, the program's name first: the bytes the
    rest of the program reads its arguments and paths from (UTF-8 where the
    system's own text is wider).

    On Linux these are argv's own bytes, as the process got them. On Windows
    main()'s argv is in the ANSI code page, which turns a name outside it into
    question marks, so the command line is taken as the system keeps it (UTF-16),
    split as Windows splits it, and turned into bytes through WidePath, by which
    the file is later opened.

    Main thread, from main(). Never fails: where the system's own command line
    cannot be read, argv's bytes are taken.
*/
std::vector<std::string> processArgumentBytes (int argc, const char* const* argv);
