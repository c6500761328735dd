#include "jobcontrol/FfmpegMessages.h"

#include <cstdlib>
#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

namespace melvora {

bool ffmpegMessagesWanted(bool verboseOption) {
    const char *environment = std::getenv("MELVORA_VERBOSE");
    return verboseOption || (environment && std::string_view(environment) == "1");
}

void showFfmpegMessages(bool show) {
    av_log_set_level(show ? AV_LOG_INFO : AV_LOG_QUIET);
}

} // namespace melvora
