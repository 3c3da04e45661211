#include "tests/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace update_test;

// Every way the controller can let an update down, one row each: the final
// status, and that the controller was sent nothing after the request that failed
// (in particular no finish request).

namespace
{
// The time-out of the one request a time-out row is about; every other request
// waits the program's full time-out. Short, so those rows end quickly.
constexpr int kShortReplyTimeoutMs = 300;

// How much later than that time-out a late reply comes: far enough that a worker
// that starts its wait late on a busy machine still gives up first.
constexpr int kLateByMs = 2000;

struct FaultCase
{
    std::string name;
    Kind kind; // the request the fault hits, and after which nothing may be sent
    int occurrence;
    Action action;
    uint8_t code = 0, reason = 0;
    int32_t expected = ERR_PROTOCOL;
    int delayMs = 0;
};

constexpr uint8_t kNoCode = 0;

FaultCase timeout (std::string name, Kind kind, int occurrence)
{
    return { std::move (name), kind, occurrence, Action::noReply, kNoCode, 0, ERR_TIMEOUT };
}

FaultCase tooLate (std::string name, Kind kind, int occurrence)
{
    return { std::move (name), kind, occurrence, Action::lateReply, kNoCode, 0, ERR_TIMEOUT, kShortReplyTimeoutMs + kLateByMs };
}

FaultCase wrongByte0 (std::string name, Kind kind, int occurrence)
{
    return { std::move (name), kind, occurrence, Action::wrongByte0, kNoCode, 0, ERR_PROTOCOL };
}

FaultCase answered (std::string name, Kind kind, int occurrence, uint8_t code, uint8_t reason, int32_t expected)
{
    return { std::move (name), kind, occurrence, Action::reply, code, reason, expected };
}

FaultCase removed (std::string name, Kind kind, int occurrence, int32_t expected, int replugAfterMs = -1)
{
    return { std::move (name), kind, occurrence, Action::remove, kNoCode, 0, expected, replugAfterMs };
}

// The status a refusal with each reason 1..5 gives, request by request.
struct RefusalRow
{
    const char* request;
    Kind kind;
    int occurrence;
    int32_t byReason[5];
};

const RefusalRow kRefusals[] {
    { "Status", Kind::statusQuery, 1, { ERR_REFUSED_1, ERR_REFUSED_2, ERR_REFUSED_3, ERR_REFUSED_4, ERR_PROTOCOL } },
    { "Info", Kind::infoQuery, 1, { ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL } },
    { "Prepare", Kind::prepare, 1, { ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL } },
    { "Header", Kind::blockHeader, 2, { ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL } },
    { "Data", Kind::dataPiece, 17, { ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL } },
    { "Last", Kind::lastPiece, 1, { ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL } },
    { "Checksum", Kind::checksum, 1, { ERR_PROTOCOL, ERR_REFUSED_2, ERR_PROTOCOL, ERR_PROTOCOL, ERR_PROTOCOL } },
    { "Poll", Kind::poll, 2, { ERR_PROTOCOL, ERR_PROTOCOL, ERR_REFUSED_3, ERR_REFUSED_4, ERR_PROTOCOL } },
};

std::vector<FaultCase> faultCases()
{
    std::vector<FaultCase> cases {
        // No reply within the time-out, at every kind of request and in later blocks.
        timeout ("TimeoutStatus", Kind::statusQuery, 1),
        timeout ("TimeoutInfo", Kind::infoQuery, 1),
        timeout ("TimeoutPrepare", Kind::prepare, 1),
        timeout ("TimeoutFirstHeader", Kind::blockHeader, 1),
        timeout ("TimeoutHeaderOfTheExtraRegion", Kind::blockHeader, 6),
        timeout ("TimeoutFirstData", Kind::dataPiece, 1),
        timeout ("TimeoutDataInTheSecondBlock", Kind::dataPiece, 3000),
        timeout ("TimeoutLastPieceOfABlock", Kind::dataPiece, 2115),
        timeout ("TimeoutAnnouncement", Kind::lastPiece, 1),
        timeout ("TimeoutAnnouncementOfTheInfoBlock", Kind::lastPiece, 10),
        timeout ("TimeoutChecksum", Kind::checksum, 1),
        timeout ("TimeoutPoll", Kind::poll, 1),
        timeout ("TimeoutPollOfALaterBlock", Kind::poll, 7),
        // A reply after the time-out is too late, and changes nothing when it comes.
        tooLate ("LateStatus", Kind::statusQuery, 1),
        tooLate ("LateData", Kind::dataPiece, 500),
        tooLate ("LatePoll", Kind::poll, 1),
        // A reply that does not repeat the request's byte 0, at every step, also
        // where its reply code would accept the request.
        wrongByte0 ("WrongByte0Status", Kind::statusQuery, 1),
        wrongByte0 ("WrongByte0Info", Kind::infoQuery, 1),
        wrongByte0 ("WrongByte0Prepare", Kind::prepare, 1),
        wrongByte0 ("WrongByte0Header", Kind::blockHeader, 1),
        wrongByte0 ("WrongByte0HeaderOfTheInfoRegion", Kind::blockHeader, 10),
        wrongByte0 ("WrongByte0FirstData", Kind::dataPiece, 1),
        wrongByte0 ("WrongByte0Data", Kind::dataPiece, 1000),
        wrongByte0 ("WrongByte0LastPiece", Kind::dataPiece, 2115),
        wrongByte0 ("WrongByte0Announcement", Kind::lastPiece, 1),
        wrongByte0 ("WrongByte0Checksum", Kind::checksum, 1),
        wrongByte0 ("WrongByte0ChecksumOfTheLastBlock", Kind::checksum, 10),
        wrongByte0 ("WrongByte0Poll", Kind::poll, 1),
        // Reply codes a request does not expect.
        answered ("StatusAnsweredWithInfo", Kind::statusQuery, 1, REPLY_INFO, 0, ERR_PROTOCOL),
        answered ("StatusAnsweredDone", Kind::statusQuery, 1, REPLY_BLOCK_DONE, 0, ERR_PROTOCOL),
        answered ("StatusRefusedWithoutReason", Kind::statusQuery, 1, REPLY_REFUSED, 0, ERR_PROTOCOL),
        answered ("StatusRefusedWithReason6", Kind::statusQuery, 1, REPLY_REFUSED, 6, ERR_PROTOCOL),
        answered ("InfoAnsweredOk", Kind::infoQuery, 1, REPLY_OK, 0, ERR_PROTOCOL),
        answered ("InfoAnsweredBusy", Kind::infoQuery, 1, REPLY_BUSY, 0, ERR_PROTOCOL),
        answered ("PrepareAnsweredWithInfo", Kind::prepare, 1, REPLY_INFO, 0, ERR_PROTOCOL),
        answered ("PrepareAnsweredDone", Kind::prepare, 1, REPLY_BLOCK_DONE, 0, ERR_PROTOCOL),
        answered ("HeaderAnsweredBusy", Kind::blockHeader, 1, REPLY_BUSY, 0, ERR_PROTOCOL),
        answered ("DataAnsweredDone", Kind::dataPiece, 5, REPLY_BLOCK_DONE, 0, ERR_PROTOCOL),
        answered ("DataAnsweredWithZero", Kind::dataPiece, 2114, 0x00, 0, ERR_PROTOCOL),
        answered ("AnnouncementAnsweredWithInfo", Kind::lastPiece, 1, REPLY_INFO, 0, ERR_PROTOCOL),
        answered ("ChecksumAnsweredDone", Kind::checksum, 1, REPLY_BLOCK_DONE, 0, ERR_PROTOCOL),
        answered ("ChecksumAnsweredBusy", Kind::checksum, 1, REPLY_BUSY, 0, ERR_PROTOCOL),
        answered ("PollAnsweredOk", Kind::poll, 1, REPLY_OK, 0, ERR_PROTOCOL),
        answered ("PollAnsweredWithInfo", Kind::poll, 1, REPLY_INFO, 0, ERR_PROTOCOL),
        answered ("PollRefusedWithReason6", Kind::poll, 1, REPLY_REFUSED, 6, ERR_PROTOCOL),
        // Removal while the request waits: in ST_INITIAL the query waits out the
        // time-out; from ST_PREPARE on the update ends at once in ERR_DEVICE_REMOVED.
        removed ("RemovedAtStatusQuery", Kind::statusQuery, 1, ERR_TIMEOUT),
        removed ("RemovedAtInfoQuery", Kind::infoQuery, 1, ERR_TIMEOUT),
        removed ("RemovedAtPrepare", Kind::prepare, 1, ERR_DEVICE_REMOVED),
        removed ("RemovedAtHeader", Kind::blockHeader, 1, ERR_DEVICE_REMOVED),
        removed ("RemovedAtHeaderOfTheExtraRegion", Kind::blockHeader, 6, ERR_DEVICE_REMOVED),
        removed ("RemovedAtData", Kind::dataPiece, 1, ERR_DEVICE_REMOVED),
        removed ("RemovedAtDataInTheSecondBlock", Kind::dataPiece, 4000, ERR_DEVICE_REMOVED),
        removed ("RemovedAtAnnouncement", Kind::lastPiece, 1, ERR_DEVICE_REMOVED),
        removed ("RemovedAtChecksum", Kind::checksum, 1, ERR_DEVICE_REMOVED),
        removed ("RemovedAtPoll", Kind::poll, 1, ERR_DEVICE_REMOVED),
        removed ("RemovedAtPollAndPluggedInAgain", Kind::poll, 2, ERR_DEVICE_REMOVED, 20),
        removed ("RemovedAtDataAndPluggedInAgain", Kind::dataPiece, 100, ERR_DEVICE_REMOVED, 0),
    };

    // Each refusal reason at each request.
    for (const auto& row : kRefusals)
        for (uint8_t reason = 1; reason <= 5; ++reason)
            cases.push_back (answered (std::string (row.request) + "RefusedWithReason" + std::to_string (reason),
                                       row.kind, row.occurrence, REPLY_REFUSED, reason, row.byReason[reason - 1]));

    return cases;
}

void PrintTo (const FaultCase& fault, std::ostream* out) { *out << fault.name; }

class UpdateFault : public ::testing::TestWithParam<FaultCase>
{
};

// After the worker ended: the request the fault hit is the last the host wrote.
void expectNothingSentAfter (Kind kind, int occurrence)
{
    const auto requests = UpdateRun::sim().receivedRequests();
    const auto writes = UpdateRun::sim().writeCalls();

    ASSERT_FALSE (requests.empty());
    EXPECT_EQ (requests.back().kind, kind) << "the controller received "
                                           << ControllerModel::kindName (requests.back().kind) << " last";
    EXPECT_EQ ((int) requestsOfKind (requests, kind).size(), occurrence);
    EXPECT_EQ (writes.size(), requests.size()) << "requests were written after the controller was gone";
    EXPECT_TRUE (requestsOfKind (requests, Kind::finish).empty());
}
} // namespace

TEST_P (UpdateFault, EndsInItsStatusAndSendsNothingAfterTheFailedRequest)
{
    const auto& fault = GetParam();
    auto scenario = quickScenario();
    scenario.faults.push_back ({ fault.kind, fault.occurrence, fault.action, fault.code, fault.reason, fault.delayMs });
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp));

    // Where the row ends in a time-out, the failed request waits a short while;
    // elsewhere its reply or the removal must end the wait.
    if (fault.expected == ERR_TIMEOUT)
        run.timeOutQuickly (fault.kind, fault.occurrence, kShortReplyTimeoutMs);

    ASSERT_TRUE (run.runToTheEnd());
    EXPECT_EQ (run.status(), fault.expected);

    // A late reply, a replug or a display refresh still to come changes nothing.
    UpdateRun::deliverEverythingPending();
    expectNothingSentAfter (fault.kind, fault.occurrence);
    EXPECT_EQ (run.status(), fault.expected);
}

INSTANTIATE_TEST_SUITE_P (Table, UpdateFault, ::testing::ValuesIn (faultCases()), [] (const auto& testInfo)
                          { return testInfo.param.name; });

//==============================================================================
// The controller's own information: a date stamp out of bounds, or a version
// text that is not a version, ends the check; nothing more is sent.

namespace
{
struct DeviceInfoCase
{
    const char* name;
    std::string version;
    uint32_t stamp;
};

const DeviceInfoCase kDeviceInfoCases[] {
    { "StampCenturyTooHigh", "1.00", 0x21240101 },
    { "StampYearTooHigh", "1.00", 0x20510101 },
    { "StampMonthTooHigh", "1.00", 0x20241301 },
    { "StampDayTooHigh", "1.00", 0x20240132 },
    { "VersionNotAVersion", "1x00", 0x20240101 },
    { "VersionNotAVersionWithTheFilesStamp", "1x00", kFileStamp },
    { "VersionEmpty", std::string (4, '\0'), 0x20240101 },
    { "VersionPartlyErased", "1.\xff\xff", kFileStamp },
};

void PrintTo (const DeviceInfoCase& info, std::ostream* out) { *out << info.name; }

class ControllerInfo : public ::testing::TestWithParam<DeviceInfoCase>
{
};
} // namespace

TEST_P (ControllerInfo, OutOfBoundsEndsTheCheckInDeviceInfo)
{
    auto scenario = quickScenario();
    scenario.version = GetParam().version;
    scenario.stamp = GetParam().stamp;
    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp));

    ASSERT_TRUE (run.runToTheEnd());
    EXPECT_EQ (run.status(), ERR_DEVICE_INFO);
    expectNothingSentAfter (Kind::infoQuery, 1);
}

INSTANTIATE_TEST_SUITE_P (Table, ControllerInfo, ::testing::ValuesIn (kDeviceInfoCases), [] (const auto& testInfo)
                          { return std::string (testInfo.param.name); });

//==============================================================================
// The update file changes under the running update: every block is read again
// and compared with what was checked, so a block that differs, is cut short or
// is gone ends the update before its first byte is sent.

namespace
{
enum class FileChange
{
    changed,
    truncated,
    deleted
};

struct FileChangeCase
{
    int block; // 1-based, in the order the update writes them
    FileChange change;
    bool equalStamps; // a partial update: the info block is only its first 0x1000 bytes
};

struct BlockRange
{
    int64_t fileOffset, length;
};

BlockRange blockRange (int block, bool equalStamps)
{
    static constexpr BlockRange kFull[] {
        { 0x000000, 0x20000 },
        { 0x020000, 0x20000 },
        { 0x040000, 0x20000 },
        { 0x060000, 0x20000 },
        { 0x080000, 0x10000 },
        { 0x090000, 0x20000 },
        { 0x0B0000, 0x20000 },
        { 0x0D0000, 0x20000 },
        { 0x0F0000, 0x20000 },
        { 0x1D0000, 0x10000 },
    };
    static constexpr BlockRange kPartial[] {
        { 0x090000, 0x20000 },
        { 0x0B0000, 0x20000 },
        { 0x0D0000, 0x20000 },
        { 0x0F0000, 0x20000 },
        { 0x1D0000, 0x01000 },
    };

    return equalStamps ? kPartial[block - 1] : kFull[block - 1];
}

void changeFile (const juce::File& file, FileChange change, BlockRange range)
{
    const auto path = std::filesystem::path (file.getFullPathName().toStdString());

    switch (change)
    {
        case FileChange::changed:
        {
            // One byte near the block's end, flipped in place.
            std::fstream stream (path, std::ios::in | std::ios::out | std::ios::binary);
            const auto at = range.fileOffset + range.length - 3;
            stream.seekg (at);
            const auto byte = (char) stream.get();
            stream.seekp (at);
            stream.put ((char) (byte ^ 0x10));
            break;
        }

        case FileChange::truncated:
            std::filesystem::resize_file (path, (uintmax_t) (range.fileOffset + range.length - 1));
            break;

        case FileChange::deleted:
            std::filesystem::remove (path);
            break;
    }
}

std::vector<FileChangeCase> fileChangeCases()
{
    std::vector<FileChangeCase> cases;

    for (auto change : { FileChange::changed, FileChange::truncated, FileChange::deleted })
    {
        for (int block = 1; block <= 10; ++block)
            cases.push_back ({ block, change, false });

        cases.push_back ({ 5, change, true });
    }

    return cases;
}

std::string fileChangeName (const FileChangeCase& c)
{
    static const char* const kChangeNames[] { "Changed", "Truncated", "Deleted" };
    return std::string (kChangeNames[(int) c.change]) + "BeforeBlock" + std::to_string (c.block)
           + (c.equalStamps ? "OfAPartialUpdate" : "");
}

void PrintTo (const FileChangeCase& change, std::ostream* out) { *out << fileChangeName (change); }

class UpdateFileChange : public ::testing::TestWithParam<FileChangeCase>
{
};
} // namespace

TEST_P (UpdateFileChange, EndsInFileOpenBeforeAnyByteOfTheBlockIsSent)
{
    const auto& param = GetParam();

    // The controller leaves the block's header unanswered, and the test answers it
    // once the file is changed: after the previous blocks went out and before this
    // block is read, however long the change takes.
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::blockHeader, param.block, Action::noReply, 0, 0, 0 });

    if (param.equalStamps)
        scenario.stamp = kFileStamp;

    UpdateRun run (scenario, makeUpdateImage ("1.05", kFileStamp, 3));
    ASSERT_TRUE (run.checkController());
    ASSERT_EQ (run.status(), ST_READY);

    run.component->startUpdate();
    ASSERT_TRUE (runUntil ([&]
                           { return UpdateRun::received (Kind::blockHeader) == param.block || ! run.workerRunning(); }));
    changeFile (run.folder.file, param.change, blockRange (param.block, param.equalStamps));
    const auto header = requestsOfKind (UpdateRun::sim().receivedRequests(), Kind::blockHeader);
    ASSERT_EQ ((int) header.size(), param.block);
    const uint8_t accepted[kReportSize] = { header.back().bytes[0], REPLY_OK };
    UpdateRun::sim().sendInput (UpdateRun::sim().firstController(), accepted, kReportSize);
    ASSERT_TRUE (runUntil ([&]
                           { return ! run.workerRunning(); }));

    EXPECT_EQ (run.status(), ERR_FILE_OPEN);
    expectNothingSentAfter (Kind::blockHeader, param.block);
}

INSTANTIATE_TEST_SUITE_P (Table, UpdateFileChange, ::testing::ValuesIn (fileChangeCases()), [] (const auto& testInfo)
                          { return fileChangeName (testInfo.param); });

TEST (UpdateFileChange, AChangeOutsideTheWrittenRegionsDoesNotStopTheUpdate)
{
    auto scenario = quickScenario();
    scenario.faults.push_back ({ Kind::blockHeader, 1, Action::lateReply, 0, 0, 100 });
    const auto image = makeUpdateImage ("1.05", kFileStamp, 3);
    UpdateRun run (scenario, image);
    ASSERT_TRUE (run.checkController());

    run.component->startUpdate();
    ASSERT_TRUE (runUntil ([]
                           { return UpdateRun::received (Kind::blockHeader) == 1; }));
    changeFile (run.folder.file, FileChange::changed, { 0x150000, 0x1000 });
    ASSERT_TRUE (runUntil ([&]
                           { return ! run.workerRunning(); }));

    EXPECT_EQ (run.status(), ST_COMPLETE);
    const auto flash = UpdateRun::sim().flash();
    for (const auto& region : kRegions)
        EXPECT_TRUE (slice (flash, region.deviceAddress, region.length) == slice (image, region.fileOffset, region.length));
}
