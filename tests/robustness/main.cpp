#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Damaged files make FFmpeg talk a lot; the verdicts are the tests' own.
    av_log_set_level(AV_LOG_QUIET);
    return RUN_ALL_TESTS();
}
