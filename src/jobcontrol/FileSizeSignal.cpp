#include "jobcontrol/FileSizeSignal.h"

#include <csignal>

namespace melvora {

void ignoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

} // namespace melvora
