#include "update/UpdateFile.h"

#include <gtest/gtest.h>

namespace
{
// Generous: each run of the tool is a process of its own, under Wine a slow one to start.
constexpr int kToolPatienceMs = 60000;

struct ToolRun
{
    int exitCode = -1;
    juce::String output;
};

ToolRun runTool (const juce::StringArray& arguments)
{
    juce::StringArray command { juce::File (TRB_TOOLS_DIR).getChildFile ("make-update-file").getFullPathName() };
    command.addArray (arguments);

    juce::ChildProcess process;
    ToolRun run;

    if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return run;

    run.output = process.readAllProcessOutput();

    if (! process.waitForProcessToFinish (kToolPatienceMs))
    {
        process.kill();
        return run;
    }

    // The framework's reader on Windows ends when it finds the pipe empty and
    // then the tool gone, so what the tool wrote between those two looks (its
    // whole usage text, when it writes at its very end) would stay unread: the
    // pipe is read again once the tool has finished.
    run.output += process.readAllProcessOutput();
    run.exitCode = static_cast<int> (process.getExitCode());
    return run;
}

struct ScratchFolder
{
    ScratchFolder() { folder.createDirectory(); }
    ~ScratchFolder() { folder.deleteRecursively(); }

    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("trb-make-update-file-test-" + juce::Uuid().toString());
};
} // namespace

TEST (MakeUpdateFile, WritesAFileThatPassesEveryCheck)
{
    ScratchFolder scratch;

    for (const auto* content : { "seed:42", "fill:00", "fill:A5" })
    {
        const auto file = scratch.folder.getChildFile ("trbkelo7__v102.bin");
        const auto run = runTool ({ "9.99", "20261209", content, file.getFullPathName() });
        ASSERT_EQ (run.exitCode, 0) << run.output;

        uint32_t stamp = 0;
        juce::String version;
        EXPECT_EQ (loadUpdateFile (file, stamp, version), kFileCheckPassed) << content;
        EXPECT_EQ (stamp, 0x20261209u);
        EXPECT_EQ (version, "9.99");
    }
}

TEST (MakeUpdateFile, DifferentSeedsGiveDifferentContent)
{
    ScratchFolder scratch;
    const auto a = scratch.folder.getChildFile ("a.bin");
    const auto b = scratch.folder.getChildFile ("b.bin");
    ASSERT_EQ (runTool ({ "1.02", "20261209", "seed:1", a.getFullPathName() }).exitCode, 0);
    ASSERT_EQ (runTool ({ "1.02", "20261209", "seed:2", b.getFullPathName() }).exitCode, 0);
    EXPECT_FALSE (a.hasIdenticalContentTo (b));
}

TEST (MakeUpdateFile, WritesDeliberatelyBrokenFilesOnlyWhenAsked)
{
    struct Case
    {
        juce::StringArray options;
        juce::String version;
        juce::String stamp;
        int32_t result;
    };

    const Case cases[] = {
        { { "--bad-crc" }, "1.02", "20261209", ERR_FILE_CRC },
        { { "--size", "2097151" }, "1.02", "20261209", ERR_FILE_SIZE },
        { { "--size", "2097153" }, "1.02", "20261209", ERR_FILE_SIZE },
        { { "--allow-invalid" }, "1.0A", "20261209", ERR_FILE_CONTENT },
        { { "--allow-invalid" }, "1.02", "21261209", ERR_FILE_CONTENT },
    };

    ScratchFolder scratch;

    for (const auto& c : cases)
    {
        const auto file = scratch.folder.getChildFile ("trbkelo7__v001.bin");
        auto arguments = c.options;
        arguments.addArray (juce::StringArray { c.version, c.stamp, "seed:3", file.getFullPathName() });
        ASSERT_EQ (runTool (arguments).exitCode, 0) << arguments.joinIntoString (" ");

        uint32_t stamp = 0;
        juce::String version;
        EXPECT_EQ (loadUpdateFile (file, stamp, version), c.result) << arguments.joinIntoString (" ");
    }
}

TEST (MakeUpdateFile, BadArgumentsGiveUsageAndAFailingExit)
{
    ScratchFolder scratch;
    const auto out = scratch.folder.getChildFile ("out.bin").getFullPathName();

    const juce::StringArray badRuns[] = {
        {},
        { "1.02", "20261209", "seed:1" },
        { "1.0A", "20261209", "seed:1", out },
        { "1.02", "21261209", "seed:1", out },
        { "1.02", "2026120", "seed:1", out },
        { "1.02", "2026120G", "seed:1", out },
        { "1.02", "20261209", "pattern", out },
        { "1.02", "20261209", "fill:1", out },
        { "1.02", "20261209", "seed:x", out },
        { "--size", "999999999", "1.02", "20261209", "seed:1", out },
        { "--frobnicate", "1.02", "20261209", "seed:1", out },
    };

    for (const auto& arguments : badRuns)
    {
        const auto run = runTool (arguments);
        EXPECT_NE (run.exitCode, 0) << arguments.joinIntoString (" ");
        EXPECT_TRUE (run.output.contains ("usage: make-update-file")) << arguments.joinIntoString (" ");
    }

    EXPECT_FALSE (juce::File (out).exists());

    const auto unwritable = runTool ({ "1.02", "20261209", "seed:1", scratch.folder.getChildFile ("no/such/folder.bin").getFullPathName() });
    EXPECT_NE (unwritable.exitCode, 0);
}
