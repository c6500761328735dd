// The poll's rules without any window: the progress line, the bar's range
// and the decision taken for each status and stop flag.

#include "jobcontrol/ProgressPolling.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

struct LineCase {
    const char *name;
    std::string path;
    std::int32_t percent;
    std::string doneText;
    std::string expected;
};

void PrintTo(const LineCase &row, std::ostream *out) {
    *out << row.name;
}

class ProgressLineFormat : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressLineFormat, PathThreeSpacesPercentSignSpaceAndWord) {
    const LineCase &row = GetParam();
    EXPECT_EQ(progressLine(row.path, row.percent, row.doneText), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProgressLineFormat,
                         ::testing::Values(LineCase{"typical", "/v/clip.mp4", 42, "done", "/v/clip.mp4   42% done"},
                                           LineCase{"hundred", "/v/clip.mp4", 100, "done", "/v/clip.mp4   100% done"},
                                           // Out of range values are shown as they are; only the bar ignores them.
                                           LineCase{"negative", "/v/clip.mp4", -1, "done", "/v/clip.mp4   -1% done"},
                                           LineCase{"above", "/v/clip.mp4", 250, "done", "/v/clip.mp4   250% done"},
                                           LineCase{"no_word", "/v/clip.mp4", 7, "", "/v/clip.mp4   7% "},
                                           LineCase{"utf8", "/视频/片段 1.mp4", 99, "完成",
                                                    "/视频/片段 1.mp4   99% 完成"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ProgressBarRange, TakesZeroToHundredInclusive) {
    const std::pair<std::int32_t, bool> rows[] = {{INT32_MIN, false}, {-1, false}, {0, true},    {1, true},
                                                  {50, true},         {100, true}, {101, false}, {INT32_MAX, false}};
    for (const auto &[percent, takes] : rows)
        EXPECT_EQ(progressBarTakes(percent), takes) << percent;
}

// The time left at the pace kept so far, and how a length is written.
TEST(TimeLeft, FollowsThePaceAndReadsAsAClock) {
    const struct {
        double elapsed;
        std::int32_t percent;
        double left; // negative: not known yet
        const char *clock;
    } rows[] = {{0.5, 10, -1, ""},       {10, 0, -1, ""},           {59.6, 50, 59.6, "1:00"},
                {1800, 40, 2700, "45:00"}, {3000, 40, 4500, "1:15:00"}, {5, 100, 0, "0:00"}};
    for (const auto &row : rows) {
        EXPECT_DOUBLE_EQ(secondsLeft(row.elapsed, row.percent), row.left) << row.elapsed << " s, " << row.percent;
        if (row.left >= 0)
            EXPECT_EQ(clockText(row.left), row.clock) << row.left;
    }
}

struct TickCase {
    const char *name;
    std::uint8_t statusByte;
    bool stop;
    bool openFlag;
    TickDecision expected;
};

void PrintTo(const TickCase &row, std::ostream *out) {
    *out << row.name;
}

class TickDecisions : public ::testing::TestWithParam<TickCase> {};

TEST_P(TickDecisions, FollowStatusAndStopFlag) {
    const TickCase &row = GetParam();
    const TickDecision decision = decideTick(static_cast<JobStatus>(row.statusByte), row.stop, row.openFlag);
    EXPECT_EQ(decision.keepPolling, row.expected.keepPolling);
    EXPECT_EQ(decision.closeDialog, row.expected.closeDialog);
    EXPECT_EQ(decision.message, row.expected.message);
    EXPECT_EQ(decision.openFolder, row.expected.openFolder);
}

constexpr TickDecision kGoOn{true, false, ResultMessage::None, false};
constexpr TickDecision kCloseQuietly{false, true, ResultMessage::None, false};
constexpr TickDecision kFailure{false, true, ResultMessage::Failure, false};
constexpr TickDecision kSuccess{false, true, ResultMessage::Success, false};
constexpr TickDecision kSuccessOpen{false, true, ResultMessage::Success, true};

INSTANTIATE_TEST_SUITE_P(Rows, TickDecisions,
                         ::testing::Values(TickCase{"running", 255, false, true, kGoOn},
                                           TickCase{"running_stopped", 255, true, true, kCloseQuietly},
                                           TickCase{"failed", 2, false, true, kFailure},
                                           TickCase{"failed_no_flag", 2, false, false, kFailure},
                                           // A failure is reported even when a stop was seen in the same poll.
                                           TickCase{"failed_stopped", 2, true, true, kFailure},
                                           TickCase{"finished_open", 1, false, true, kSuccessOpen},
                                           TickCase{"finished_no_open", 1, false, false, kSuccess},
                                           TickCase{"finished_stopped_open", 1, true, true, kSuccessOpen},
                                           // Only 1 and 2 are terminal: any other byte is a run going on.
                                           TickCase{"byte_0", 0, false, true, kGoOn},
                                           TickCase{"byte_3", 3, false, true, kGoOn},
                                           TickCase{"byte_0_stopped", 0, true, false, kCloseQuietly}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace melvora
