#include "update/Status.h"

#include <gtest/gtest.h>

#include <thread>

TEST (Status, ShowsIdentifiersAsFourUpperCaseHexDigitsPaddedWithZero)
{
    EXPECT_EQ (formatErrorId (ERR_NOT_CONNECTED), "0E21");
    EXPECT_EQ (formatErrorId (ERR_FILE_NOT_FOUND), "0E01");
    EXPECT_EQ (formatErrorId (ERR_PROTOCOL), "0E41");
    EXPECT_EQ (formatErrorId (ERR_DEVICE_REMOVED), "0E37");
}

TEST (Status, NoWriteReplacesARemoval)
{
    StatusValue status;
    status.reset (ST_BLOCK_DATA);
    EXPECT_TRUE (status.markRemoved());

    EXPECT_FALSE (status.set (ERR_TIMEOUT));
    EXPECT_FALSE (status.set (ST_BLOCK_CHECKSUM));
    EXPECT_FALSE (status.setIf (ST_BLOCK_DATA, ST_BLOCK_CHECKSUM));
    EXPECT_EQ (status.get(), ERR_DEVICE_REMOVED);
}

TEST (Status, ARemovalOutsideTheStepsOneToSixChangesNothing)
{
    for (auto initial : { ST_INITIAL, ST_COMPLETE, ERR_TIMEOUT, ERR_PROTOCOL, ERR_FILE_CRC })
    {
        StatusValue status;
        status.reset (initial);
        EXPECT_FALSE (status.markRemoved()) << initial;
        EXPECT_EQ (status.get(), initial);
    }

    for (auto initial = ST_READY; initial <= ST_BLOCK_WAIT; ++initial)
    {
        StatusValue status;
        status.reset (initial);
        EXPECT_TRUE (status.markRemoved()) << initial;
        EXPECT_EQ (status.get(), ERR_DEVICE_REMOVED);
    }
}

TEST (Status, TheStartStepIsTakenOnlyFromReady)
{
    StatusValue status;
    EXPECT_FALSE (status.setIf (ST_READY, ST_PREPARE));
    EXPECT_EQ (status.get(), ST_INITIAL);

    status.reset (ST_READY);
    EXPECT_TRUE (status.setIf (ST_READY, ST_PREPARE));
    EXPECT_EQ (status.get(), ST_PREPARE);
}

TEST (Status, ARemovalSurvivesAWorkerHammeringTheStatus)
{
    constexpr int rounds = 2000;

    for (int round = 0; round < rounds; ++round)
    {
        StatusValue status;
        status.reset (ST_BLOCK_DATA);
        std::atomic<bool> go { false };

        std::thread worker ([&]
                            {
                                while (! go.load()) {}
                                for (int i = 0; i < 50; ++i)
                                    status.set (i % 2 == 0 ? ST_BLOCK_CHECKSUM : ERR_TIMEOUT); });

        go = true;
        const auto removed = status.markRemoved();
        worker.join();

        // The removal lands unless the worker had already ended the steps with
        // an error; either way, once stored it is never replaced.
        if (removed)
            EXPECT_EQ (status.get(), ERR_DEVICE_REMOVED);
        else
            EXPECT_EQ (status.get(), ERR_TIMEOUT);
    }
}
