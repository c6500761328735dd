// libFuzzer target: the media probe on arbitrary bytes.

#include "FuzzHarness.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    melvora::fuzz::probeBytes(data, size);
    return 0;
}
