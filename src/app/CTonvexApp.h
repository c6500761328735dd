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

    // Needs a QApplication. Files given (VIDEO [MUSIC], or one file from the
    // file manager's "Open with") go through the add buttons' paths as if
    // chosen in the open-file dialog: probed, then shown in their box or
    // refused with the usual message. One file that is music by its type
    // goes to the music box; otherwise the first is the video and the second
    // the music. Returns the process's exit code.
    int run(const QStringList &files = {});

    // Whether a file is music by its type (audio/*), as the desktop sees it.
    static bool isMusicFile(const QString &path);
};

} // namespace melvora
