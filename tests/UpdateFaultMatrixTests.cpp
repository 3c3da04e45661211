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
void expectNothingSentAfter (ModelRun& run, Kind kind, int occurrence)
{
    const auto model = run.model();
    const auto& requests = model.requests();

    ASSERT_FALSE (requests.empty());
    EXPECT_EQ (requests.back().kind, kind) << "the controller received "
                                           << ControllerModel::kindName (requests.back().kind) << " last";
    EXPECT_EQ (model.requestCount (kind), occurrence);
    EXPECT_EQ (run.link.writeCount(), (int64_t) requests.size()) << "requests were written after the controller was gone";
    EXPECT_EQ (model.requestCount (Kind::finish), 0);
}
} // namespace

TEST_P (UpdateFault, EndsInItsStatusAndSendsNothingAfterTheFailedRequest)
{
    const auto& fault = GetParam();
    auto scenario = quickScenario();
    scenario.faults.push_back ({ fault.kind, fault.occurrence, fault.action, fault.code, fault.reason, fault.delayMs });
    ModelRun run (scenario, makeUpdateImage ("1.05", kFileStamp));

    // Where the row ends in a time-out, the failed request waits a short while;
    // elsewhere its reply or the removal must end the wait.
    if (fault.expected == ERR_TIMEOUT)
        run.procedure->setReplyTimeoutRule (shortTimeoutFor (fault.kind, fault.occurrence, kShortReplyTimeoutMs));

    ASSERT_TRUE (run.runToTheEnd());
    EXPECT_EQ (run.status(), fault.expected);

    // A late reply, a replug or a display refresh still to come changes nothing.
    run.deliverEverythingPending();
    expectNothingSentAfter (run, fault.kind, fault.occurrence);
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

class ControllerInfoHeadless : public ::testing::TestWithParam<DeviceInfoCase>
{
};
} // namespace

TEST_P (ControllerInfoHeadless, OutOfBoundsEndsTheCheckInDeviceInfo)
{
    auto scenario = quickScenario();
    scenario.version = GetParam().version;
    scenario.stamp = GetParam().stamp;
    ModelRun run (scenario, makeUpdateImage ("1.05", kFileStamp));

    ASSERT_TRUE (run.runToTheEnd());
    EXPECT_EQ (run.status(), ERR_DEVICE_INFO);
    expectNothingSentAfter (run, Kind::infoQuery, 1);
}

INSTANTIATE_TEST_SUITE_P (Table, ControllerInfoHeadless, ::testing::ValuesIn (kDeviceInfoCases), [] (const auto& testInfo)
                          { return std::string (testInfo.param.name); });
