#include "app/CommandLine.h"
#include "text/ExternalText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST (CommandLine, APathThatIsNotUtf8IsReadAsTextAndKeptAsItsBytes)
{
    const struct
    {
        std::vector<std::string> arguments;
        CommandLine::Action action;
        std::string bytes;
    } cases[] = {
        { { "a\x80" + std::string (100, 'B') }, CommandLine::Action::run, "a\x80" + std::string (100, 'B') },
        { { "--", "-\xff.bin" }, CommandLine::Action::run, "-\xff.bin" },
        { { "/tmp/\xc0\x80" }, CommandLine::Action::run, "/tmp/\xc0\x80" },
        { { "--\x80" }, CommandLine::Action::usageError, {} },
        { { "x\x80", "y" }, CommandLine::Action::usageError, {} },
    };

    for (const auto& c : cases)
    {
        const auto parsed = CommandLine::parseBytes (c.arguments);
        EXPECT_EQ (parsed.action, c.action) << c.arguments.back();

        if (c.action == CommandLine::Action::run)
        {
            EXPECT_EQ (parsed.updateFileBytes, c.bytes);
            EXPECT_EQ (parsed.updateFilePath, ExternalText::fromBytes (c.bytes));
        }
    }
}
