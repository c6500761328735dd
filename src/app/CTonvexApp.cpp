#include "app/CTonvexApp.h"

#include "app/TerminationSignals.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/MainWindowActions.h"
#include "platform/AnsweredFileDialog.h"

#include <QTimer>

namespace melvora {

const char *CTonvexApp::applicationId() {
    return MELVORA_APPLICATION_ID;
}

int CTonvexApp::run(const QStringList &videos) {
    // Settings live in setting.ini (see Settings); nothing is kept in any
    // other store, so there is no organisation name to set.
    CTonvexDlg window;
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, &QWidget::close);
    if (!videos.isEmpty()) {
        // Once the window is up, so that a refusal's message box has its owner.
        QTimer::singleShot(0, &window, [&window, videos] {
            AnsweredFileDialog answer(videos);
            window.actions()->addVideo();
        });
    }
    window.exec();
    return 0;
}

} // namespace melvora
