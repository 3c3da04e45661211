#include <cstdio>

// Writes a valid update file; filled in with the update file code.
int main()
{
    std::fputs ("usage: make-update-file (not built yet)\n", stderr);
    return 2;
}
