#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

using namespace update_test;

namespace
{
using Requests = std::vector<SimulatedController::ReceivedRequest>;

struct ExpectedBlock
{
    uint8_t command;
    uint32_t address, length;
    int64_t fileOffset;
};

// Every block of a full update, in the order they are written.
const std::vector<ExpectedBlock> kFullUpdateBlocks {
    { CMD_MAIN, 0x000000, 0x20000, 0x000000 },
    { CMD_MAIN, 0x020000, 0x20000, 0x020000 },
    { CMD_MAIN, 0x040000, 0x20000, 0x040000 },
    { CMD_MAIN, 0x060000, 0x20000, 0x060000 },
    { CMD_MAIN, 0x080000, 0x10000, 0x080000 },
    { CMD_EXTRA, 0x090000, 0x20000, 0x090000 },
    { CMD_EXTRA, 0x0B0000, 0x20000, 0x0B0000 },
    { CMD_EXTRA, 0x0D0000, 0x20000, 0x0D0000 },
    { CMD_EXTRA, 0x0F0000, 0x20000, 0x0F0000 },
    { CMD_INFO, 0x1D0000, 0x10000, 0x1D0000 },
};

// With equal date stamps the main region is left alone and only the head of the info region is written.
const std::vector<ExpectedBlock> kPartialUpdateBlocks {
    { CMD_EXTRA, 0x090000, 0x20000, 0x090000 },
    { CMD_EXTRA, 0x0B0000, 0x20000, 0x0B0000 },
    { CMD_EXTRA, 0x0D0000, 0x20000, 0x0D0000 },
    { CMD_EXTRA, 0x0F0000, 0x20000, 0x0F0000 },
    { CMD_INFO, 0x1D0000, 0x01000, 0x1D0000 },
};

bool onlyZerosFrom (const ControllerModel::Report& report, int offset)
{
    return std::all_of (report.begin() + offset, report.end(), [] (uint8_t b)
                        { return b == 0; });
}

// Checks the requests of every block: its header, full pieces of 62 bytes, the
// announcement of the last piece, the last piece, the checksum and the polls, and
// that the pieces carry exactly the file's bytes. Returns the number of polls.
int expectBlocks (const Requests& requests, const std::vector<ExpectedBlock>& blocks, const std::vector<uint8_t>& image)
{
    size_t at = 0;
    int polls = 0;

    while (at < requests.size() && requests[at].kind != Kind::blockHeader)
        ++at;

    for (size_t b = 0; b < blocks.size(); ++b)
    {
        SCOPED_TRACE ("block " + std::to_string (b + 1));
        const auto& block = blocks[b];
        const auto fullPieces = (int) (block.length / kPieceSize);
        const auto lastCount = (int) (block.length % kPieceSize == 0 ? kPieceSize : block.length % kPieceSize);
        const auto expectedFull = block.length % kPieceSize == 0 ? fullPieces - 1 : fullPieces;

        if (at + (size_t) expectedFull + 4 > requests.size())
        {
            ADD_FAILURE() << "the requests end early";
            return polls;
        }

        const auto& header = requests[at++].bytes;
        EXPECT_EQ (header[0], block.command);
        EXPECT_EQ (header[1], SUB_BLOCK);
        EXPECT_EQ (littleEndian32 (header, 2), block.address);
        EXPECT_EQ (header[6], kAddressMarker);
        EXPECT_EQ (littleEndian32 (header, 7), block.length);
        EXPECT_TRUE (onlyZerosFrom (header, 11));

        std::vector<uint8_t> sent;

        for (int piece = 0; piece < expectedFull; ++piece)
        {
            const auto& request = requests[at++];

            if (request.kind != Kind::dataPiece || request.bytes[0] != block.command)
            {
                ADD_FAILURE() << "piece " << piece << " is not a data piece of the block";
                return polls;
            }

            sent.insert (sent.end(), request.bytes.begin() + 2, request.bytes.end());
        }

        const auto& announcement = requests[at++].bytes;
        EXPECT_EQ (announcement[0], block.command);
        EXPECT_EQ (announcement[1], SUB_LAST);
        EXPECT_EQ (announcement[2], lastCount);
        EXPECT_TRUE (onlyZerosFrom (announcement, 3));

        const auto& lastPiece = requests[at++].bytes;
        EXPECT_EQ (lastPiece[0], block.command);
        EXPECT_EQ (lastPiece[1], SUB_DATA);
        EXPECT_TRUE (onlyZerosFrom (lastPiece, 2 + lastCount));
        sent.insert (sent.end(), lastPiece.begin() + 2, lastPiece.begin() + 2 + lastCount);

        const auto expected = slice (image, block.fileOffset, block.length);
        EXPECT_TRUE (sent == expected) << "the pieces do not carry the file's bytes";

        const auto& checksum = requests[at++].bytes;
        EXPECT_EQ (checksum[0], block.command);
        EXPECT_EQ (checksum[1], SUB_CHECKSUM);
        EXPECT_EQ (littleEndian32 (checksum, 2), UpdateProcedure::byteSum (expected.data(), expected.size()));
        EXPECT_TRUE (onlyZerosFrom (checksum, 6));

        while (at < requests.size() && requests[at].kind == Kind::poll)
        {
            EXPECT_EQ (requests[at].bytes[0], block.command);
            ++polls;
            ++at;
        }
    }

    return polls;
}

void expectPrepare (const Requests& requests, uint8_t command, uint32_t address, uint32_t length)
{
    const auto prepares = requestsOfKind (requests, Kind::prepare);
    ASSERT_EQ (prepares.size(), 1u);
    const auto& prepare = prepares.front().bytes;
    EXPECT_EQ (prepare[0], command);
    EXPECT_EQ (prepare[1], SUB_PREPARE);
    EXPECT_EQ (littleEndian32 (prepare, 2), address);
    EXPECT_EQ (prepare[6], kAddressMarker);
    EXPECT_EQ (littleEndian32 (prepare, 7), length);
    EXPECT_TRUE (onlyZerosFrom (prepare, 11));
}

// The finish request ends the write; only the info query that confirms it may follow.
void expectOneFinishAtTheEnd (const Requests& requests)
{
    ASSERT_FALSE (requests.empty());
    EXPECT_EQ (requestsOfKind (requests, Kind::finish).size(), 1u);
    auto last = requests.end() - 1;

    while (last != requests.begin() && last->kind == Kind::infoQuery)
        --last;

    EXPECT_LE (requests.end() - last, 2) << "more than one query after the finish";
    EXPECT_EQ (last->kind, Kind::finish);
    EXPECT_EQ (last->bytes[0], CMD_CONTROL);
    EXPECT_TRUE (onlyZerosFrom (last->bytes, 2));
}

// Samples the worker's progress from the message thread while the update runs.
struct ProgressWatch
{
    void sample (double value)
    {
        decreased = decreased || value < last;
        last = value;
        ++samples;
    }

    double last = 0.0;
    bool decreased = false;
    int samples = 0;
};
} // namespace

TEST (UpdateProcedureHeadless, AFullUpdateWritesAllThreeRegionsByteForByte)
{
    const auto image = makeUpdateImage ("1.05", kFileStamp, 7);
    UpdateRun run (quickScenario(), image);

    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);
    EXPECT_EQ (run.procedure->getTotalBytes(), 0x120000);
    EXPECT_EQ (run.procedure->getDeviceVersion(), "1.00");
    EXPECT_EQ (run.procedure->getDeviceStamp(), 0x20240101u);
    EXPECT_FALSE (run.procedure->isFullUpdate());

    ProgressWatch progress;
    ASSERT_TRUE (run.writeUpdate ([&]
                                  { progress.sample (run.procedure->getProgress()); }));

    EXPECT_EQ (run.status(), ST_COMPLETE);
    EXPECT_TRUE (run.procedure->isCompleted());
    EXPECT_TRUE (run.procedure->isFullUpdate());
    EXPECT_EQ (run.procedure->getCurrentRegion(), kRegionCount);

    EXPECT_FALSE (progress.decreased);
    EXPECT_GT (progress.samples, 1000);
    EXPECT_EQ (run.procedure->getProgress(), 1.0);
    EXPECT_TRUE (runUntil ([&]
                           { return run.told.progress == 1.0; }))
        << "the progress told to the listeners (what the bar shows) never reached 1.0";

    ASSERT_TRUE (UpdateRun::sim().waitUntilIdle (kHangMs));
    const auto requests = UpdateRun::sim().receivedRequests();
    expectPrepare (requests, CMD_MAIN, 0x1D0000, 0x10000);
    EXPECT_EQ (expectBlocks (requests, kFullUpdateBlocks, image), (int) kFullUpdateBlocks.size());
    expectOneFinishAtTheEnd (requests);

    const auto flash = UpdateRun::sim().flash();
    for (const auto& region : kRegions)
        EXPECT_TRUE (slice (flash, region.deviceAddress, region.length) == slice (image, region.fileOffset, region.length))
            << "region at 0x" << std::hex << region.deviceAddress;
}

TEST (UpdateProcedureHeadless, EqualStampsWriteTheExtraRegionAndTheHeadOfTheInfoRegionOnly)
{
    auto scenario = quickScenario();
    scenario.stamp = kFileStamp;
    scenario.version = "1.04";
    scenario.busyCount = 2; // answered 0x83, then 0x84, then written
    const auto image = makeUpdateImage ("1.05", kFileStamp, 11);
    UpdateRun run (scenario, image);
    const auto flashBefore = UpdateRun::sim().flash();

    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);
    EXPECT_EQ (run.procedure->getTotalBytes(), 0x81000);
    EXPECT_EQ (run.procedure->getDeviceVersion(), "1.04");
    EXPECT_EQ (run.procedure->getRegion (REGION_MAIN).state, REGION_SKIP);
    EXPECT_EQ (run.procedure->getRegion (REGION_INFO).length, 0x1000);

    ProgressWatch progress;
    ASSERT_TRUE (run.writeUpdate ([&]
                                  { progress.sample (run.procedure->getProgress()); }));

    EXPECT_EQ (run.status(), ST_COMPLETE);
    EXPECT_FALSE (run.procedure->isFullUpdate());
    EXPECT_FALSE (progress.decreased);
    EXPECT_EQ (run.procedure->getProgress(), 1.0);

    ASSERT_TRUE (UpdateRun::sim().waitUntilIdle (kHangMs));
    const auto requests = UpdateRun::sim().receivedRequests();
    expectPrepare (requests, CMD_EXTRA, 0x1D0000, 0x1000);
    EXPECT_EQ (expectBlocks (requests, kPartialUpdateBlocks, image), 3 * (int) kPartialUpdateBlocks.size());
    expectOneFinishAtTheEnd (requests);

    for (const auto& request : requests)
        EXPECT_NE (request.bytes[0], CMD_MAIN);

    const auto flash = UpdateRun::sim().flash();
    const auto& extra = kRegions[REGION_EXTRA];
    const auto& info = kRegions[REGION_INFO];
    EXPECT_TRUE (slice (flash, extra.deviceAddress, extra.length) == slice (image, extra.fileOffset, extra.length));
    EXPECT_TRUE (slice (flash, info.deviceAddress, 0x1000) == slice (image, info.fileOffset, 0x1000));
    EXPECT_TRUE (slice (flash, info.deviceAddress + 0x1000, info.length - 0x1000)
                 == slice (flashBefore, info.deviceAddress + 0x1000, info.length - 0x1000));
    const auto& main = kRegions[REGION_MAIN];
    EXPECT_TRUE (slice (flash, main.deviceAddress, main.length) == slice (flashBefore, main.deviceAddress, main.length));
}

namespace
{
// The data bytes the controller has received so far: 62 per data piece, and the
// announced count for the piece after a last-piece announcement. Reads only the
// requests that came since the last call.
struct ReceivedDataBytes
{
    int64_t count()
    {
        UpdateRun::sim().withModel ([this] (ControllerModel& model)
                                    {
                                        const auto& log = model.requests();

                                        for (; next < log.size(); ++next)
                                        {
                                            if (log[next].kind == Kind::lastPiece)
                                                announced = log[next].bytes[kOffsetReason];
                                            else if (log[next].kind == Kind::dataPiece)
                                            {
                                                bytes += announced > 0 ? announced : kPieceSize;
                                                announced = 0;
                                            }
                                        } });
        return bytes;
    }

    size_t next = 0;
    int announced = 0;
    int64_t bytes = 0;
};
} // namespace

// The bar shows the share of the bytes sent so far all through the write, not
// only that it moves forward and ends full.
TEST (UpdateProcedureHeadless, TheProgressFollowsTheBytesSentWithinOnePiece)
{
    const auto image = makeUpdateImage ("1.05", kFileStamp, 5);
    UpdateRun run (quickScenario(), image);
    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);
    const auto total = (double) run.procedure->getTotalBytes();

    // The worker publishes the progress of the bytes before a piece, then sends the
    // piece; the controller's count read before and after the progress brackets
    // the count at the moment the progress was read.
    constexpr double kRounding = 0.5;
    ReceivedDataBytes received;
    int samplesDuringTheWrite = 0, outsideThePiece = 0;
    std::string firstOutside;

    ASSERT_TRUE (run.writeUpdate ([&]
                                  {
                                      const auto before = received.count();
                                      const auto sent = run.procedure->getProgress() * total;
                                      const auto after = received.count();

                                      if (before > 0 && after < (int64_t) total)
                                          ++samplesDuringTheWrite;

                                      if (sent > (double) after + kRounding || sent < (double) (before - kPieceSize) - kRounding)
                                      {
                                          if (outsideThePiece++ == 0)
                                              firstOutside = "progress " + std::to_string (sent) + " bytes while the controller had "
                                                             + std::to_string (before) + ".." + std::to_string (after);
                                      } }));

    EXPECT_EQ (run.status(), ST_COMPLETE);
    EXPECT_EQ (outsideThePiece, 0) << "first: " << firstOutside;
    EXPECT_GT (samplesDuringTheWrite, 1000);
    EXPECT_EQ (received.count(), (int64_t) total);
    EXPECT_EQ (run.procedure->getProgress(), 1.0);
}

TEST (UpdateProcedureHeadless, AControllerWithAnErasedVersionTextReportsVersionZero)
{
    auto scenario = quickScenario();
    scenario.version = "\xff\xff\xff\xff";
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp));

    ASSERT_TRUE (run.checkController());
    EXPECT_EQ (run.status(), ST_READY);
    EXPECT_EQ (run.procedure->getDeviceVersion(), "0.00");
}

TEST (UpdateProcedureHeadless, ByteSumAddsTheBytesAsUnsignedValues)
{
    const std::vector<uint8_t> erased (0x1000, 0xff);
    EXPECT_EQ (UpdateProcedure::byteSum (erased.data(), erased.size()), 0xFF000u);
    EXPECT_EQ (UpdateProcedure::byteSum (nullptr, 0), 0u);
}

//==============================================================================
// Removal at the moments the fault table cannot reach: before the worker starts,
// while it idles in ST_READY, after the update completed and after an error.

TEST (UpdateProcedureHeadless, ARemovalBeforeTheCheckLeavesTheStatusAndTheCheckFindsNoController)
{
    UpdateRun run (quickScenario(), makeUpdateImage ("1.05", kFileStamp));
    UpdateRun::sim().remove (UpdateRun::sim().firstController());
    UpdateRun::deliverEverythingPending();
    EXPECT_EQ (run.status(), ST_INITIAL);

    run.procedure->startCheck (run.folder.folder);
    EXPECT_EQ (run.status(), ERR_NOT_CONNECTED);
    EXPECT_FALSE (run.workerRunning());
    EXPECT_TRUE (UpdateRun::sim().writeCalls().empty());
}

TEST (UpdateProcedureHeadless, ARemovalOnTheReadyScreenEndsInDeviceRemovedAndStaysThereAfterAReplug)
{
    UpdateRun run (quickScenario(), makeUpdateImage ("1.05", kFileStamp));
    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);
    const auto writesBefore = UpdateRun::sim().writeCalls().size();

    const auto device = UpdateRun::sim().firstController();
    UpdateRun::sim().remove (device);
    ASSERT_TRUE (runUntil ([&]
                           { return ! run.workerRunning(); }));
    EXPECT_EQ (run.status(), ERR_DEVICE_REMOVED);

    UpdateRun::sim().plugIn (device);
    UpdateRun::deliverEverythingPending();
    run.procedure->startUpdate();
    UpdateRun::deliverEverythingPending();

    EXPECT_EQ (run.status(), ERR_DEVICE_REMOVED);
    EXPECT_FALSE (run.workerRunning());
    EXPECT_EQ (UpdateRun::sim().writeCalls().size(), writesBefore);
}

TEST (UpdateProcedureHeadless, ARemovalAfterTheUpdateCompletedChangesNothing)
{
    UpdateRun run (quickScenario(), makeUpdateImage ("1.05", kFileStamp));
    ASSERT_TRUE (run.runToTheEnd());
    ASSERT_EQ (run.status(), ST_COMPLETE);

    UpdateRun::sim().remove (UpdateRun::sim().firstController());
    UpdateRun::deliverEverythingPending();
    EXPECT_EQ (run.status(), ST_COMPLETE);
}

TEST (UpdateProcedureHeadless, ARemovalAfterAnErrorKeepsTheError)
{
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::checksum, 1, Action::reply, REPLY_REFUSED, 2, 0 });
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp));
    ASSERT_TRUE (run.runToTheEnd());
    ASSERT_EQ (run.status(), ERR_REFUSED_2);
    const auto writesBefore = UpdateRun::sim().writeCalls().size();

    UpdateRun::sim().remove (UpdateRun::sim().firstController());
    UpdateRun::deliverEverythingPending();
    EXPECT_EQ (run.status(), ERR_REFUSED_2);
    EXPECT_EQ (UpdateRun::sim().writeCalls().size(), writesBefore);
}

//==============================================================================
// Replies that must not be judged as they arrive.

TEST (UpdateProcedureHeadless, AReportThatArrivesWhileNoRequestWaitsIsNotTakenAsTheNextReply)
{
    // The real reply to the prepare request comes well after the worker judged
    // whatever it found waiting.
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::prepare, 1, Action::lateReply, 0, 0, 1000 });
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp));
    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);

    // A refusal that, taken as the prepare request's reply, would end the update.
    const uint8_t stale[kReportSize] = { CMD_MAIN, REPLY_REFUSED, REASON_PROTOCOL };
    const auto inputsBefore = UpdateRun::sim().callCount (SimulatedController::Function::input);
    UpdateRun::sim().sendInput (UpdateRun::sim().firstController(), stale, kReportSize);
    ASSERT_TRUE (runUntil ([&]
                           { return UpdateRun::sim().callCount (SimulatedController::Function::input) > inputsBefore; }));

    run.procedure->startUpdate();
    ASSERT_TRUE (runUntil ([&]
                           { return ! run.workerRunning(); }));
    EXPECT_EQ (run.status(), ST_COMPLETE);
}

// A reply sent twice: the copy arrives while the worker waits out the pause
// after the step, with no request waiting. Taken as the next request's reply it
// would be judged as that reply (the real one is made late, so it cannot
// overtake) and end the update in a protocol error. (A copy that comes while the
// worker has not yet woken for the first merges with it in the event.)
struct DuplicateCase
{
    const char* name;
    Kind duplicated;
    int occurrence;
    Kind next;
    int nextOccurrence;
};

void PrintTo (const DuplicateCase& c, std::ostream* out) { *out << c.name; }

class DuplicatedReplyHeadless : public ::testing::TestWithParam<DuplicateCase>
{
};

TEST_P (DuplicatedReplyHeadless, IsNotTakenAsTheReplyToTheNextRequest)
{
    const auto& param = GetParam();
    auto scenario = quickScenario();
    scenario.faults.push_back ({ param.duplicated, param.occurrence, Action::duplicateReply, 0, 0, 0 });
    scenario.faults.push_back ({ param.next, param.nextOccurrence, Action::lateReply, 0, 0, 20 });
    const auto image = makeUpdateImage ("1.05", kFileStamp, 13);
    UpdateRun run (scenario, image);

    ASSERT_TRUE (run.runToTheEnd());
    EXPECT_EQ (run.status(), ST_COMPLETE);
    ASSERT_TRUE (UpdateRun::sim().waitUntilIdle (kHangMs));
    EXPECT_EQ (requestsOfKind (UpdateRun::sim().receivedRequests(), Kind::finish).size(), 1u);

    const auto flash = UpdateRun::sim().flash();
    for (const auto& region : kRegions)
        EXPECT_TRUE (slice (flash, region.deviceAddress, region.length) == slice (image, region.fileOffset, region.length));
}

INSTANTIATE_TEST_SUITE_P (AfterEachStep,
                          DuplicatedReplyHeadless,
                          ::testing::Values (DuplicateCase { "Info", Kind::infoQuery, 1, Kind::prepare, 1 },
                                             DuplicateCase { "Checksum", Kind::checksum, 1, Kind::poll, 1 },
                                             DuplicateCase { "LastBlockOfARegion", Kind::poll, 5, Kind::blockHeader, 6 }),
                          [] (const auto& testInfo)
                          { return std::string (testInfo.param.name); });

TEST (UpdateProcedureHeadless, AShortReplyIsJudgedWithoutTheBytesOfAnEarlierReply)
{
    // The checksum's reply carries a 3 in byte 2; the poll's reply is two bytes,
    // a refusal without a reason. Judged with the earlier byte 2 it would read as
    // a refusal with reason 3.
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::checksum, 1, Action::reply, REPLY_OK, 3, 0 });
    scenario.faults.push_back ({ Kind::poll, 1, Action::noReply, 0, 0, 0 });
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp), 10000);
    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);

    run.procedure->startUpdate();
    ASSERT_TRUE (runUntil ([]
                           { return UpdateRun::received (Kind::poll) == 1; }));

    const uint8_t shortRefusal[2] = { CMD_MAIN, REPLY_REFUSED };
    UpdateRun::sim().sendInput (UpdateRun::sim().firstController(), shortRefusal, 2);
    ASSERT_TRUE (runUntil ([&]
                           { return ! run.workerRunning(); }));

    EXPECT_EQ (run.status(), ERR_PROTOCOL);
    EXPECT_EQ (UpdateRun::sim().receivedRequests().back().kind, Kind::poll);
}

TEST (UpdateProcedureHeadless, AShortReplyThatSaysEnoughIsAccepted)
{
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::statusQuery, 1, Action::noReply, 0, 0, 0 });
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp), 10000);
    run.procedure->startCheck (run.folder.folder);
    ASSERT_TRUE (runUntil ([]
                           { return UpdateRun::received (Kind::statusQuery) == 1; }));

    const uint8_t shortAccept[2] = { CMD_CONTROL, REPLY_OK };
    UpdateRun::sim().sendInput (UpdateRun::sim().firstController(), shortAccept, 2);
    ASSERT_TRUE (runUntil ([&]
                           { return run.status() != ST_INITIAL; }));
    EXPECT_EQ (run.status(), ST_READY);
}

//==============================================================================
// Closing the program (the front-end stops the procedure) while the worker runs.

TEST (UpdateProcedureHeadless, ClosingWhileAReplyIsAwaitedWakesTheWorkerAtOnceAndSendsNothingMore)
{
    // The reply to a data piece would come long after the close; the close must not
    // wait for it, nor be cut short by the forced end of the thread.
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::dataPiece, 700, Action::lateReply, 0, 0, 60000 });
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp), 120000);
    ASSERT_TRUE (run.checkController());
    run.procedure->startUpdate();
    ASSERT_TRUE (runUntil ([]
                           { return UpdateRun::received (Kind::dataPiece) == 700; }));
    settle (20);

    const auto started = juce::Time::getMillisecondCounter();
    run.procedure->stop();
    const auto took = juce::Time::getMillisecondCounter() - started;

    EXPECT_FALSE (run.workerRunning());
    EXPECT_LT (took, (juce::uint32) kStopTimeoutMs) << "the worker did not wake and had to be ended by force";
    EXPECT_EQ (run.status(), ST_BLOCK_DATA);
    EXPECT_EQ (UpdateRun::sim().writeCalls().size(), 3u + 1u + 700u);
}

TEST (UpdateProcedureHeadless, ClosingAtAnyMomentOfTheTransferStopsTheWorkerWithoutAFinish)
{
    for (const int piecesBeforeClose : { 1, 2, 40, 333, 2114, 2200 })
    {
        SCOPED_TRACE ("closed after " + std::to_string (piecesBeforeClose) + " pieces");
        UpdateRun run (quickScenario(), makeUpdateImage ("1.05", kFileStamp), 120000);
        ASSERT_TRUE (run.checkController());
        run.procedure->startUpdate();
        ASSERT_TRUE (runUntil ([piecesBeforeClose]
                               { return UpdateRun::received (Kind::dataPiece) >= piecesBeforeClose; }));

        // Close right after a reply was handed to the worker, while it wakes to judge it.
        const auto inputs = UpdateRun::sim().callCount (SimulatedController::Function::input);
        ASSERT_TRUE (runUntil ([inputs]
                               { return UpdateRun::sim().callCount (SimulatedController::Function::input) > inputs; }));

        const auto started = juce::Time::getMillisecondCounter();
        run.procedure->stop();
        EXPECT_LT (juce::Time::getMillisecondCounter() - started, (juce::uint32) kStopTimeoutMs);
        EXPECT_FALSE (run.workerRunning());

        const auto writes = UpdateRun::sim().writeCalls().size();
        settle (20);
        EXPECT_EQ (UpdateRun::sim().writeCalls().size(), writes);
        EXPECT_TRUE (requestsOfKind (UpdateRun::sim().receivedRequests(), Kind::finish).empty());
        EXPECT_FALSE (isErrorStatus (run.status()));
    }
}

TEST (UpdateProcedureHeadless, AControllerThatStaysBusyIsPolledUntilTheUserCloses)
{
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::poll, 1, Action::busyForever, 0, 0, 0 });
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp));
    ASSERT_TRUE (run.checkController());
    run.procedure->startUpdate();
    ASSERT_TRUE (runUntil ([]
                           { return UpdateRun::received (Kind::poll) >= 4; }));
    EXPECT_EQ (run.status(), ST_BLOCK_WAIT);

    run.procedure->stop();
    EXPECT_FALSE (run.workerRunning());
    EXPECT_EQ (UpdateRun::sim().receivedRequests().back().kind, Kind::poll);
    EXPECT_EQ (run.status(), ST_BLOCK_WAIT);
}
