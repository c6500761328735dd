#pragma once

#include <QStringList>

namespace melvora {

// The application: runs the main window as the one modal dialog of the
// process. When the window closes (which stops a running job, releases it
// and saves the hidden preset selections), the run is over.
class CTonvexApp {
public:
    // The id of the desktop entry, the icon and the metainfo.
    static const char *applicationId();

    // Needs a QApplication. A video given (the file manager's "Open with")
    // goes through the add-video path as if chosen in the open-file dialog:
    // probed, then shown in the video box or refused with the usual message.
    // Returns the process's exit code.
    int run(const QStringList &videos = {});
};

} // namespace melvora
