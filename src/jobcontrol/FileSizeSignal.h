#pragma once

namespace melvora {

// Makes a file-size limit (ulimit -f) an ordinary write error, which ends
// the run as failed and removes its output, instead of SIGXFSZ killing the
// whole program with a broken file left behind.
void ignoreFileSizeSignal();

} // namespace melvora
