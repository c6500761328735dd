#include "app/CTonvexApp.h"

#include "mainwindow/CTonvexDlg.h"

namespace melvora {

int CTonvexApp::run() {
    // Settings live in setting.ini beside the executable; nothing is kept
    // anywhere else, so there is no organisation or registry key to set.
    CTonvexDlg window;
    window.exec();
    return 0;
}

} // namespace melvora
