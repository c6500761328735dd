#include "mainwindow/WorkerWait.h"

#include "engine/MixJob.h"

#include <QApplication>
#include <QCursor>

#include <chrono>

namespace melvora {

bool waitForWorkerResponsively(MixJob &job, const std::function<bool()> &keepWaiting) {
    if (!job.workerActive.load())
        return true;
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    bool ended = false;
    while (!ended) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (keepWaiting && !keepWaiting())
            break;
        // Short slices: a tear-down takes a moment, and the windows must keep painting.
        ended = waitForMixJob(job, std::chrono::milliseconds(15));
    }
    QApplication::restoreOverrideCursor();
    return ended;
}

} // namespace melvora
