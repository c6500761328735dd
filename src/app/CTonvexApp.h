#pragma once

namespace melvora {

// The application: runs the main window as the one modal dialog of the
// process. When the window closes (which stops a running job, releases it
// and saves the hidden preset selections), the run is over.
class CTonvexApp {
public:
    // Needs a QApplication. Returns the process's exit code.
    int run();
};

} // namespace melvora
