#pragma once

#include <functional>

namespace melvora {

struct MixJob;

// Waits until the job's worker has finished its tear-down, keeping the
// windows painted and their timers running meanwhile; keyboard and mouse
// input waits until the end, so nothing can be started twice. keepWaiting is
// asked between short waits: when it answers false the wait is given up.
// True when no worker is active any more. A busy cursor shows while waiting.
bool waitForWorkerResponsively(MixJob &job, const std::function<bool()> &keepWaiting = {});

} // namespace melvora
