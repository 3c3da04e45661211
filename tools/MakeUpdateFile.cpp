// make-update-file: writes an update file for tests, the demo, and anyone who
// needs a file to try the updater with. Not part of the updater itself.

#include "tools/UpdateImageBuilder.h"

#include <cctype>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
constexpr int kExitWriteFailed = 1;
constexpr int kExitUsage = 2;
constexpr int64_t kMaxDeliberateSize = 16 * 1024 * 1024;

const char* const kUsage =
    "usage: make-update-file [options] VERSION STAMP CONTENT OUTPUT\n"
    "\n"
    "Writes a valid TRB-Kelo7 update file of 2,097,152 bytes.\n"
    "\n"
    "  VERSION  the version text: a digit, a point and two digits (e.g. 1.02)\n"
    "  STAMP    the date stamp as 8 hex digits: century, year, month, day (e.g. 20261209)\n"
    "  CONTENT  seed:N  pseudo-random content from the decimal seed N\n"
    "           fill:XX every content byte is the hex value XX\n"
    "  OUTPUT   the file to write, e.g. trbkelo7__v102.bin\n"
    "\n"
    "Options that write deliberately broken files, for tests:\n"
    "  --allow-invalid  accept any 4-character VERSION and any STAMP\n"
    "  --bad-crc        store a CRC that does not match\n"
    "  --size BYTES     cut or zero-extend the finished file to BYTES (at most 16 MiB)\n";

int usage (const char* problem)
{
    std::fprintf (stderr, "make-update-file: %s\n\n%s", problem, kUsage);
    return kExitUsage;
}

bool parseUnsigned (const std::string& text, int base, uint64_t limit, uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;

    for (auto c : text)
        if (! (base == 16 ? std::isxdigit (static_cast<unsigned char> (c)) : std::isdigit (static_cast<unsigned char> (c))))
            return false;

    errno = 0;
    value = std::strtoull (text.c_str(), nullptr, base);
    return errno == 0 && value <= limit;
}

struct Arguments
{
    std::string version;
    uint32_t stamp = 0;
    bool fill = false;
    uint64_t seedOrFill = 0;
    std::string output;
    bool allowInvalid = false;
    bool badCrc = false;
    int64_t size = kImageSize;
};

// Returns an empty text on success, else what is wrong.
std::string parseArguments (int argc, char** argv, Arguments& args)
{
    std::vector<std::string> positional;

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];

        if (arg == "--allow-invalid")
            args.allowInvalid = true;
        else if (arg == "--bad-crc")
            args.badCrc = true;
        else if (arg == "--size")
        {
            uint64_t size = 0;

            if (++i >= argc || ! parseUnsigned (argv[i], 10, kMaxDeliberateSize, size))
                return "--size needs a byte count of at most 16 MiB";

            args.size = static_cast<int64_t> (size);
        }
        else if (arg == "--help" || arg == "-h")
            return "help";
        else if (arg.size() > 1 && arg[0] == '-')
            return "unknown option " + arg;
        else
            positional.push_back (arg);
    }

    if (positional.size() != 4)
        return "expected VERSION STAMP CONTENT OUTPUT";

    args.version = positional[0];

    if (args.version.size() != static_cast<size_t> (kVersionLength))
        return "VERSION must be four characters, e.g. 1.02";

    if (! args.allowInvalid && ! isValidVersionText (juce::String (args.version)))
        return "VERSION must be a digit, a point and two digits, e.g. 1.02";

    uint64_t stamp = 0;

    if (positional[1].size() != 8 || ! parseUnsigned (positional[1], 16, 0xFFFFFFFFu, stamp))
        return "STAMP must be 8 hex digits, e.g. 20261209";

    args.stamp = static_cast<uint32_t> (stamp);

    if (! args.allowInvalid && ! isValidStamp (args.stamp))
        return "STAMP is out of range (bytes at most 20 50 12 31)";

    const auto& content = positional[2];

    if (content.rfind ("seed:", 0) == 0)
    {
        if (! parseUnsigned (content.substr (5), 10, UINT64_MAX, args.seedOrFill))
            return "CONTENT seed:N needs a decimal number";
    }
    else if (content.rfind ("fill:", 0) == 0)
    {
        args.fill = true;

        if (content.size() != 7 || ! parseUnsigned (content.substr (5), 16, 0xFF, args.seedOrFill))
            return "CONTENT fill:XX needs two hex digits";
    }
    else
    {
        return "CONTENT must be seed:N or fill:XX";
    }

    args.output = positional[3];
    return {};
}

std::vector<uint8_t> buildImage (const Arguments& args)
{
    std::vector<uint8_t> image (static_cast<size_t> (kImageSize));

    if (args.fill)
        std::fill (image.begin(), image.end(), static_cast<uint8_t> (args.seedOrFill));
    else
        fillImageFromSeed (image, args.seedOrFill);

    setImageVersion (image, args.version);
    setImageStamp (image, args.stamp);
    storeImageCrc (image);

    if (args.badCrc)
        image[static_cast<size_t> (kCrcOffset)] ^= 0xFF;

    image.resize (static_cast<size_t> (args.size), 0);
    return image;
}
} // namespace

int main (int argc, char** argv)
{
    Arguments args;
    const auto problem = parseArguments (argc, argv, args);

    if (problem == "help")
    {
        std::fputs (kUsage, stdout);
        return 0;
    }

    if (! problem.empty())
        return usage (problem.c_str());

    const auto image = buildImage (args);
    auto* out = std::fopen (args.output.c_str(), "wb");

    if (out == nullptr)
    {
        std::fprintf (stderr, "make-update-file: cannot write %s: %s\n", args.output.c_str(), std::strerror (errno));
        return kExitWriteFailed;
    }

    const auto written = std::fwrite (image.data(), 1, image.size(), out);
    const auto closed = std::fclose (out) == 0;

    if (written != image.size() || ! closed)
    {
        std::fprintf (stderr, "make-update-file: writing %s failed\n", args.output.c_str());
        return kExitWriteFailed;
    }

    return 0;
}
