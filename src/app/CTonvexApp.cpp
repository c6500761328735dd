#include "app/CTonvexApp.h"

#include "app/TerminationSignals.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/MainWindowActions.h"
#include "platform/AnsweredFileDialog.h"

#include <QApplication>
#include <QDialog>
#include <QMimeDatabase>
#include <QTimer>

namespace melvora {

const char *CTonvexApp::applicationId() {
    return MELVORA_APPLICATION_ID;
}

bool CTonvexApp::isMusicFile(const QString &path) {
    return QMimeDatabase().mimeTypeForFile(path).name().startsWith(QStringLiteral("audio/"));
}

int CTonvexApp::run(const QStringList &files) {
    // Settings live in setting.ini (see Settings); nothing is kept in any
    // other store, so there is no organisation name to set.
    CTonvexDlg window;
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, [&window] {
        // A box above the window (a refusal, the progress dialog) runs an
        // event loop of its own and would hold the window's close until
        // someone answers it: each is closed first, the top one first.
        for (int open = 0; open < 16; ++open) {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == &window)
                break;
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        }
        window.close();
    });
    if (!files.isEmpty()) {
        // Once the window is up, so that a refusal's message box has its owner.
        QTimer::singleShot(0, &window, [&window, files] {
            MainWindowActions *actions = window.actions();
            if (files.size() == 1 && isMusicFile(files.first())) {
                AnsweredFileDialog answer(files);
                actions->addMusic();
                return;
            }
            {
                AnsweredFileDialog answer({files.first()});
                actions->addVideo();
            }
            if (files.size() > 1) {
                AnsweredFileDialog answer({files.at(1)});
                actions->addMusic();
            }
        });
    }
    window.exec();
    return 0;
}

} // namespace melvora
