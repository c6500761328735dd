#pragma once

#include <QObject>

class QSocketNotifier;

namespace melvora {

// SIGTERM and SIGINT (a session ending, a service manager, Ctrl+C in a terminal) close the main
// window as its close box does, so that a running job is stopped and finalised and the settings
// are saved, instead of the process dying mid-write. The signal handler only writes a byte to a
// pipe; the Qt event loop reads it and emits terminationRequested.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; call it as early as possible, before the QApplication exists. A
    // signal that arrives before the watcher below is created waits in the pipe.
    static void installHandlers();

    // Needs a QCoreApplication.
    explicit TerminationSignals(QObject *parent = nullptr);

signals:
    void terminationRequested();

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace melvora
