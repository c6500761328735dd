// Times the mix preview's Play: from the press to the first sound handed to
// the sound output, at the start and in the middle of the video once the mix
// is made, and at the start, 0:10, the middle and near the end right after a
// change of the settings (with a sound server, such as the null sink test.sh
// starts).
//
//   melvora-mix-preview-play-timing VIDEO MUSIC

#include "jobcontrol/FfmpegMessages.h"
#include "mainwindow/MixPreview.h"

#include <QApplication>
#include <QAudioDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTest>

#include <cstdio>

namespace {

melvora::MixSettings current;

// Seconds from Play at the point to the first sound handed on; -1 past 10 s.
double timePlay(melvora::MixPreviewDlg &dialog, double seconds) {
    dialog.stopPlaying();
    dialog.timeline()->setPointSeconds(seconds);
    QElapsedTimer clock;
    clock.start();
    dialog.play();
    while (dialog.soundHanded() == 0 && clock.elapsed() < 10000)
        QTest::qWait(1);
    const double taken = dialog.soundHanded() > 0 ? clock.nsecsElapsed() / 1e9 : -1;
    dialog.stopPlaying();
    return taken;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s VIDEO MUSIC\n", argv[0]);
        return 2;
    }
    if (QMediaDevices::audioOutputs().isEmpty()) {
        std::fprintf(stderr, "no sound output\n");
        return 1;
    }
    melvora::showFfmpegMessages(false);
    melvora::MixPreviewDlg dialog([] { return current; }, QString::fromLocal8Bit(argv[1]),
                                  QString::fromLocal8Bit(argv[2]));
    dialog.show();
    while (!dialog.rendering() || !dialog.rendering()->finished())
        QTest::qWait(5);
    for (const auto &[name, duck] : {std::pair{"plain mix", false}, std::pair{"with ducking", true}}) {
        current = {};
        if (duck)
            current.duckDb = 12;
        QTest::qWait(100); // a tick takes the settings
        while (!dialog.rendering()->finished())
            QTest::qWait(5);
        const double length = dialog.rendering()->doneSamples() / double(melvora::kPreviewSampleRate);
        const double made = timePlay(dialog, 0), madeMiddle = timePlay(dialog, length / 2);
        // A change, then Play at once: the new mix is made from the start.
        current.fadeInSeconds += 1;
        QTest::qWait(60);
        const double changed = timePlay(dialog, 0);
        current.fadeInSeconds += 1;
        QTest::qWait(60);
        const double changedTen = timePlay(dialog, 10);
        current.fadeInSeconds += 1;
        QTest::qWait(60);
        const double changedMiddle = timePlay(dialog, length / 2);
        current.fadeInSeconds += 1;
        QTest::qWait(60);
        const double changedEnd = timePlay(dialog, length - 10);
        std::printf("%s: first sound after %.3f s at the start, %.3f s in the middle; after a change %.3f s at the "
                    "start, %.3f s at 0:10, %.3f s in the middle, %.3f s 10 s before the end\n",
                    name, made, madeMiddle, changed, changedTen, changedMiddle, changedEnd);
    }
    return 0;
}
