#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace update_test;

// An update cut off anywhere leaves a controller that the next run updates
// completely; the write sends only the image that passed the checks; no wait of
// the worker is endless.

namespace
{
// What the faulted request waits for its missing reply; every other request
// keeps the full time-out, so a slow machine cannot make another one time out.
constexpr int kShortReplyTimeoutMs = 300;

// Far beyond anything the suite waits for: a test that ends before it can only
// have been woken by something other than this time-out.
constexpr int kNeverMs = 10 * kHangMs;

const std::vector<uint8_t>& fileImage()
{
    static const auto image = makeUpdateImage ("1.05", kFileStamp, 21);
    return image;
}

bool flashHoldsTheThreeRegions (const std::vector<uint8_t>& flash, const std::vector<uint8_t>& image)
{
    for (const auto& region : kRegions)
        if (slice (flash, region.deviceAddress, region.length) != slice (image, region.fileOffset, region.length))
            return false;

    return true;
}

UpdateProcedure::ReplyTimeoutRule shortTimeoutFor (Kind kind, int count)
{
    return update_test::shortTimeoutFor (kind, count, kShortReplyTimeoutMs);
}

//==============================================================================
enum class Cut
{
    removal,
    noReply,
    refusal,
    wrongCode
};

struct CutPoint
{
    const char* name; // where in the update the cut falls
    Kind kind;
    int occurrence; // of that kind, in a full update with one busy poll per block
};

// Every request kind, in every region. A full update's requests in numbers: ten
// blocks (five main, four extra, one info), 2115 data pieces per 128 KiB block
// and 1058 per 64 KiB one, two polls per block (busy, then done).
const CutPoint kCutPoints[] {
    { "Prepare", Kind::prepare, 1 },
    { "FirstHeaderOfMain", Kind::blockHeader, 1 },
    { "SecondHeaderOfExtra", Kind::blockHeader, 7 },
    { "HeaderOfInfo", Kind::blockHeader, 10 },
    { "FirstDataOfMain", Kind::dataPiece, 1 },
    { "DataInTheMiddleOfExtra", Kind::dataPiece, 12519 },
    { "LastDataOfInfo", Kind::dataPiece, 19036 },
    { "AnnouncementOfMainsLastBlock", Kind::lastPiece, 5 },
    { "AnnouncementOfInfo", Kind::lastPiece, 10 },
    { "ChecksumOfMain", Kind::checksum, 1 },
    { "LastChecksumOfExtra", Kind::checksum, 9 },
    { "DonePollOfMain", Kind::poll, 2 },
    { "BusyPollOfExtra", Kind::poll, 11 },
    { "LastPollOfInfo", Kind::poll, 20 },
};

struct Interruption
{
    CutPoint point;
    Cut cut;
};

std::string interruptionName (const Interruption& c)
{
    static const char* const kCutNames[] { "Removal", "NoReply", "Refusal", "WrongCode" };
    return std::string (kCutNames[(int) c.cut]) + "At" + c.point.name;
}

void PrintTo (const Interruption& c, std::ostream* out) { *out << interruptionName (c); }

// Each row is a run cut off and a whole update after it.
std::vector<Interruption> interruptions()
{
    constexpr Cut kCuts[] { Cut::removal, Cut::noReply, Cut::refusal, Cut::wrongCode };
    std::vector<Interruption> all;

    for (const auto& point : kCutPoints)
        for (auto cut : kCuts)
            all.push_back ({ point, cut });

    return all;
}

// The fault that makes the cut, and the status the first run must end in.
ControllerModel::ScriptedFault faultFor (const Interruption& c, int32_t& expected)
{
    const auto& point = c.point;

    switch (c.cut)
    {
        case Cut::removal:
            expected = ERR_DEVICE_REMOVED;
            return { point.kind, point.occurrence, Action::remove, 0, 0, -1 };

        case Cut::noReply:
            expected = ERR_TIMEOUT;
            return { point.kind, point.occurrence, Action::noReply, 0, 0, 0 };

        case Cut::refusal:
            // The one reason each request has its own error for; any other is a protocol error.
            if (point.kind == Kind::checksum)
            {
                expected = ERR_REFUSED_2;
                return { point.kind, point.occurrence, Action::reply, REPLY_REFUSED, 2, 0 };
            }

            if (point.kind == Kind::poll)
            {
                expected = ERR_REFUSED_3;
                return { point.kind, point.occurrence, Action::reply, REPLY_REFUSED, 3, 0 };
            }

            expected = ERR_PROTOCOL;
            return { point.kind, point.occurrence, Action::reply, REPLY_REFUSED, REASON_PROTOCOL, 0 };

        case Cut::wrongCode:
            expected = ERR_PROTOCOL;
            return { point.kind, point.occurrence, Action::reply, point.kind == Kind::poll ? REPLY_OK : REPLY_BUSY, 0, 0 };
    }

    return {};
}

class UpdateInterruption : public ::testing::TestWithParam<Interruption>
{
};
} // namespace

TEST_P (UpdateInterruption, LeavesAControllerThatTheNextRunUpdatesCompletely)
{
    const auto& param = GetParam();
    int32_t expected = ST_COMPLETE;
    const auto fault = faultFor (param, expected);

    auto scenario = quickScenario();
    scenario.busyCount = 1;
    scenario.faults.push_back (fault);

    ControllerModel leftBehind;

    {
        ModelRun first (scenario, fileImage(), kReplyTimeoutMs);

        if (param.cut == Cut::noReply)
            first.procedure->setReplyTimeoutRule (shortTimeoutFor (fault.kind, fault.occurrence));

        ASSERT_TRUE (first.runToTheEnd());
        ASSERT_EQ (first.status(), expected);
        ASSERT_EQ (first.received (fault.kind), fault.occurrence) << "the cut fell elsewhere";

        first.deliverEverythingPending();
        leftBehind = first.model();
    }

    // Cut off, the controller must not claim the new firmware.
    EXPECT_EQ (leftBehind.finishCount(), 0);
    EXPECT_NE (leftBehind.installedVersion(), "1.05");
    EXPECT_NE (leftBehind.installedStamp(), kFileStamp);

    // The same controller, plugged in again with its flash as the cut left it.
    leftBehind.resetScript();
    leftBehind.powerCycle();
    ModelRun second (leftBehind, fileImage(), kReplyTimeoutMs);

    ASSERT_TRUE (second.runToTheEnd());
    EXPECT_EQ (second.status(), ST_COMPLETE);
    EXPECT_TRUE (second.procedure->isFullUpdate());

    const auto model = second.model();
    EXPECT_TRUE (flashHoldsTheThreeRegions (model.flash(), fileImage()));
    EXPECT_EQ (model.installedVersion(), "1.05");
    EXPECT_EQ (model.installedStamp(), kFileStamp);
}

INSTANTIATE_TEST_SUITE_P (Table, UpdateInterruption, ::testing::ValuesIn (interruptions()), [] (const auto& testInfo)
                          { return interruptionName (testInfo.param); });

//==============================================================================
// The controller's date stamp: erased means "none", anything else out of bounds
// still ends the check.

namespace
{
struct StampCase
{
    const char* name;
    uint32_t stamp;
    int32_t expected;
};

const StampCase kStampCases[] {
    { "ErasedMeansNoStamp", 0xFFFFFFFF, ST_READY },
    { "AllButTheLastByteErased", 0xFFFFFFFE, ERR_DEVICE_INFO },
    { "DayErasedOnly", 0x202401FF, ERR_DEVICE_INFO },
    { "CenturyErasedOnly", 0xFF240101, ERR_DEVICE_INFO },
};

void PrintTo (const StampCase& c, std::ostream* out) { *out << c.name; }

class ControllerStampHeadless : public ::testing::TestWithParam<StampCase>
{
};
} // namespace

TEST_P (ControllerStampHeadless, DecidesTheCheck)
{
    auto scenario = quickScenario();
    scenario.version = "\xff\xff\xff\xff";
    scenario.stamp = GetParam().stamp;
    UpdateRun run (scenario, fileImage(), kReplyTimeoutMs);

    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), GetParam().expected);

    if (GetParam().expected == ST_READY)
    {
        // Everything is written, as for a controller with an older stamp.
        EXPECT_EQ (run.procedure->getRegion (REGION_MAIN).state, REGION_WRITE);
        EXPECT_EQ (run.procedure->getRegion (REGION_INFO).length, kRegions[REGION_INFO].length);
        EXPECT_EQ (run.procedure->getTotalBytes(), 0x120000);
    }
}

INSTANTIATE_TEST_SUITE_P (Table, ControllerStampHeadless, ::testing::ValuesIn (kStampCases), [] (const auto& testInfo)
                          { return std::string (testInfo.param.name); });

TEST (UpdateRecoveryHeadless, AnUpdateWithEqualStampsCutOffLeavesAControllerThatGetsAFullUpdate)
{
    // The partial update's prepare erases only the head of the info region, yet
    // the controller then no longer vouches for its stamp either.
    auto scenario = quickScenario();
    scenario.stamp = kFileStamp;
    scenario.faults.push_back ({ Kind::dataPiece, 10, Action::noReply, 0, 0, 0 });
    UpdateRun first (scenario, fileImage(), kReplyTimeoutMs);
    first.procedure->setReplyTimeoutRule (shortTimeoutFor (Kind::dataPiece, 10));
    ASSERT_TRUE (first.runToTheEnd());
    ASSERT_EQ (first.status(), ERR_TIMEOUT);
    EXPECT_FALSE (first.procedure->isFullUpdate());

    ControllerModel leftBehind;
    UpdateRun::sim().withModel ([&leftBehind] (ControllerModel& model)
                                { leftBehind = model; });
    EXPECT_EQ (leftBehind.installedStamp(), 0xFFFFFFFFu);
    first.end();

    UpdateRun second (quickScenario(), fileImage(), kReplyTimeoutMs);
    UpdateRun::sim().withModel ([&leftBehind] (ControllerModel& model)
                                {
                                    model = leftBehind;
                                    model.resetScript();
                                    model.powerCycle(); });
    ASSERT_TRUE (second.checkController());
    ASSERT_EQ (second.status(), ST_READY);
    EXPECT_EQ (second.procedure->getTotalBytes(), 0x120000);
}

//==============================================================================
// The file changes after it passed its checks: the controller still receives
// exactly the checked image, and the update is not stopped by it.

namespace
{
enum class FileChange
{
    replaced,
    truncated,
    edited,
    deleted
};

struct FileChangeCase
{
    FileChange change;
    bool whileWriting; // else between the check and "Start"
};

void changeFile (const juce::File& file, FileChange change)
{
    const auto path = std::filesystem::path (file.getFullPathName().toStdString());

    switch (change)
    {
        case FileChange::replaced:
        {
            // Another valid update file under the same name.
            const auto other = makeUpdateImage ("2.00", 0x20270101, 99);
            ASSERT_TRUE (file.replaceWithData (other.data(), other.size()));
            break;
        }

        case FileChange::truncated:
            std::filesystem::resize_file (path, (uintmax_t) kImageSize / 2);
            break;

        case FileChange::edited:
        {
            // Bytes in every region flipped in place.
            std::fstream stream (path, std::ios::in | std::ios::out | std::ios::binary);

            for (const auto& region : kRegions)
            {
                stream.seekp (region.fileOffset + region.length - 7);
                stream.put ((char) 0x5A);
            }

            break;
        }

        case FileChange::deleted:
            std::filesystem::remove (path);
            break;
    }
}

std::string fileChangeName (const FileChangeCase& c)
{
    static const char* const kChangeNames[] { "Replaced", "Truncated", "Edited", "Deleted" };
    return std::string (kChangeNames[(int) c.change]) + (c.whileWriting ? "WhileWriting" : "BeforeStart");
}

void PrintTo (const FileChangeCase& c, std::ostream* out) { *out << fileChangeName (c); }

std::vector<FileChangeCase> fileChangeCases()
{
    std::vector<FileChangeCase> cases;

    for (auto change : { FileChange::replaced, FileChange::truncated, FileChange::edited, FileChange::deleted })
        for (bool whileWriting : { false, true })
            cases.push_back ({ change, whileWriting });

    return cases;
}

class UpdateFileChangeHeadless : public ::testing::TestWithParam<FileChangeCase>
{
};
} // namespace

TEST_P (UpdateFileChangeHeadless, TheControllerReceivesExactlyTheCheckedImage)
{
    const auto& param = GetParam();
    UpdateRun run (quickScenario(), fileImage(), kReplyTimeoutMs);
    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);

    bool changed = false;

    if (! param.whileWriting)
    {
        changeFile (run.folder.file, param.change);
        changed = true;
    }

    // While writing: once the third block has begun, with two blocks in the flash.
    ASSERT_TRUE (run.writeUpdate ([&]
                                  {
                                      if (! changed && UpdateRun::received (Kind::blockHeader) >= 3)
                                      {
                                          changeFile (run.folder.file, param.change);
                                          changed = true;
                                      } }));

    EXPECT_TRUE (changed);
    EXPECT_EQ (run.status(), ST_COMPLETE);
    EXPECT_TRUE (flashHoldsTheThreeRegions (UpdateRun::sim().flash(), fileImage()));
}

INSTANTIATE_TEST_SUITE_P (Table, UpdateFileChangeHeadless, ::testing::ValuesIn (fileChangeCases()), [] (const auto& testInfo)
                          { return fileChangeName (testInfo.param); });

//==============================================================================
// No endless waits.

TEST (UpdateRecoveryHeadless, AControllerBusyBeyondTheLimitEndsInTimeoutWithNothingSentAfter)
{
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::poll, 1, Action::busyForever, 0, 0, 0 });
    UpdateRun run (scenario, fileImage(), kReplyTimeoutMs);
    run.procedure->setBusyPollLimitMs (3 * kPollIntervalMs);
    // Every busy reply counts as progress: without the limit the run would go on
    // for ever, and this bound makes that a failure, not a stalled suite.
    run.longestRunMs = kHangMs;

    ASSERT_TRUE (run.runToTheEnd());
    EXPECT_EQ (run.status(), ERR_TIMEOUT);

    // Polled more than once, then left alone: no header, no finish.
    const auto requests = UpdateRun::sim().receivedRequests();
    EXPECT_GE (requestsOfKind (requests, Kind::poll).size(), 2u);
    EXPECT_EQ (requests.back().kind, Kind::poll);
    EXPECT_EQ (requestsOfKind (requests, Kind::blockHeader).size(), 1u);
    EXPECT_TRUE (requestsOfKind (requests, Kind::finish).empty());
}

namespace
{
struct Query
{
    const char* name;
    Kind kind;
};

void PrintTo (const Query& q, std::ostream* out) { *out << q.name; }

class RemovalDuringTheCheckHeadless : public ::testing::TestWithParam<Query>
{
};
} // namespace

TEST_P (RemovalDuringTheCheckHeadless, EndsTheCheckInTimeoutAtOnce)
{
    // The query is never answered and its time-out is far away: only the removal
    // can end the check before the run's own limit.
    auto scenario = quickScenario();
    scenario.faults.push_back ({ GetParam().kind, 1, Action::remove, 0, 0, -1 });
    UpdateRun run (scenario, fileImage(), kNeverMs);

    ASSERT_TRUE (run.checkController());
    EXPECT_TRUE (runUntil ([&]
                           { return ! run.workerRunning(); }));
    EXPECT_EQ (run.status(), ERR_TIMEOUT);

    const auto requests = UpdateRun::sim().receivedRequests();
    ASSERT_FALSE (requests.empty());
    EXPECT_EQ (requests.back().kind, GetParam().kind);
    EXPECT_EQ (UpdateRun::sim().writeCalls().size(), requests.size());
}

INSTANTIATE_TEST_SUITE_P (Queries, RemovalDuringTheCheckHeadless,
                          ::testing::Values (Query { "Status", Kind::statusQuery }, Query { "Info", Kind::infoQuery }),
                          [] (const auto& testInfo)
                          { return std::string (testInfo.param.name); });
