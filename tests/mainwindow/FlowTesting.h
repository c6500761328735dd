#pragma once

// Helpers for driving the main window's actions end to end: small media made
// once per test run with the ffmpeg program, a shown window over a sandboxed
// executable folder with a test language, and a press of the start button
// that can act on the progress dialog while the run is in progress.

#include "WindowTesting.h"

#include "MediaTool.h"

#include "controls/CControlButton.h"
#include "engine/MixJob.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/MainWindowActions.h"
#include "mainwindow/OutputFolderBox.h"
#include "platform/ScriptedDesktop.h"
#include "progress/CDUDuduzezDlg.h"

#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace melvora::testing {

// The language texts the workflows show, each recognisable.
inline const char *const kFlowLanguage = "[APPLICATION]\nname=Melvora\nversion=1.0\n"
                                         "[JIEMIAN]\nsymtwj=媒体文件\nsywj=所有文件\ndqwj=当前文件:\ntz=停止\n"
                                         "[TISHI]\nwj=文件\nwx=不是有效的视频!\nmlbcz=输出目录不存在!\n"
                                         "wjwc=完成\nhbcg=合并成功!\nhbsb=合并失败!\n";
inline const QString kSucceeded = QStringLiteral("合并成功!");
inline const QString kFailed = QStringLiteral("合并失败!");
inline const QString kMissingFolder = QStringLiteral("输出目录不存在!");

inline QString q(const std::string &text) {
    return QString::fromStdString(text);
}

// The success message: the language's text, then the new file on a line of its own.
inline QString succeeded(const std::string &output) {
    return kSucceeded + u'\n' + q(output);
}

// Media for the workflows, made on first use and shared by every test.
struct FlowMedia {
    std::string folder;
    std::string video;       // 2 s, 64x48, H.264 with its own sound, .mp4
    std::string silentVideo; // 2 s, no sound, .mkv
    std::string music;       // 1 s stereo MP3
    std::string longVideo;   // 300 s at 5 frames a second: still running when a test acts

    static const FlowMedia &get() {
        static const FlowMedia media = make();
        return media;
    }

private:
    static FlowMedia make() {
        FlowMedia media;
        media.folder = test::makeFolder("flow-media");
        media.video = media.folder + "/clip.mp4";
        media.silentVideo = media.folder + "/silent.mkv";
        media.music = media.folder + "/music.mp3";
        media.longVideo = media.folder + "/long.mp4";
        const std::string h264 = " -c:v libx264 -preset ultrafast -pix_fmt yuv420p";
        test::makeMedia("-f lavfi -i testsrc=size=64x48:rate=10:duration=2 -f lavfi -i "
                        "sine=frequency=440:sample_rate=44100:duration=2" +
                            h264 + " -c:a aac -shortest",
                        media.video);
        test::makeMedia("-f lavfi -i testsrc=size=64x48:rate=10:duration=2" + h264, media.silentVideo);
        test::makeMedia("-f lavfi -i sine=frequency=1000:duration=1 -ac 2 -c:a libmp3lame", media.music);
        test::makeMedia("-f lavfi -i testsrc=size=96x64:rate=5:duration=300 -f lavfi -i "
                        "sine=frequency=440:sample_rate=44100:duration=300" +
                            h264 + " -c:a aac -shortest",
                        media.longVideo);
        return media;
    }
};

inline std::string fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> folderEntries(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Drags local files onto the window and drops them there.
inline void dropFiles(QWidget &window, const std::vector<std::string> &paths) {
    QList<QUrl> urls;
    for (const std::string &path : paths)
        urls << QUrl::fromLocalFile(q(path));
    QMimeData data;
    data.setUrls(urls);
    const QPoint where(10, 10);
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
}

// A shown main window over a fresh executable folder whose settings name the
// test language, plus whatever settings the test adds.
struct FlowWindow {
    ExecutableFolderSandbox sandbox;
    bool prepared;
    ScriptedDesktop scripted;
    CTonvexDlg window;

    explicit FlowWindow(const std::string &moreSettings = {}) : prepared(prepare(moreSettings)) { window.show(); }

    bool prepare(const std::string &moreSettings) const {
        sandbox.writeSettings("[LANGUAGE]\nfile=test.ini\n" + moreSettings);
        sandbox.writeLanguage("test.ini", kFlowLanguage);
        return true;
    }

    QStringList messages() const {
        QStringList texts;
        for (const ScriptedDesktop::Message &message : scripted.messages()) {
            EXPECT_EQ(message.icon, MessageIcon::None);
            texts << message.text;
        }
        return texts;
    }

    void addVideo(const std::string &path) {
        scripted.queueFileNames({q(path)});
        window.addVideoButton()->click();
    }
    void addMusic(const std::string &path) {
        scripted.queueFileNames({q(path)});
        window.addMusicButton()->click();
    }
    void browse(const std::string &folder) {
        scripted.queueFolder(q(folder));
        window.browseButton()->click();
    }
    // Fills both rows and the output folder through the buttons.
    void prepareRun(const std::string &video, const std::string &music, const std::string &folder) {
        addVideo(video);
        addMusic(music);
        browse(folder);
        ASSERT_EQ(window.videoPathBox()->text(), q(video));
        ASSERT_EQ(window.musicPathBox()->text(), q(music));
        ASSERT_EQ(window.outputFolderBox()->currentText(), q(folder));
        ASSERT_TRUE(messages().isEmpty()) << messages().join(u'\n').toStdString();
    }

    CDUDuduzezDlg *progressDialog() const { return window.actions()->progressDialog(); }

    // Presses start; returns once the action has ended (the progress dialog,
    // if one was shown, has closed). While the dialog is up and not ending,
    // `during` is offered it every few milliseconds until it answers true.
    void pressStart(const std::function<bool(CDUDuduzezDlg &)> &during = {}) {
        bool acted = !during;
        QTimer watcher;
        watcher.setInterval(5);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            CDUDuduzezDlg *dialog = progressDialog();
            if (!acted && dialog && dialog->isVisible() && !dialog->isEnding())
                acted = during(*dialog);
        });
        // A run that never ends fails the test instead of hanging the suite.
        QTimer guard;
        guard.setSingleShot(true);
        guard.setInterval(60000);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            ADD_FAILURE() << "the run did not end";
            if (CDUDuduzezDlg *dialog = progressDialog())
                dialog->closePath();
        });
        watcher.start();
        guard.start();
        window.startButton()->click();
        EXPECT_TRUE(acted) << "the progress dialog never offered itself";
    }

    // Waits until the run's worker has released the job.
    bool waitForWorker() const {
        return QTest::qWaitFor([&] { return !window.mixJob() || !window.mixJob()->workerActive.load(); }, 20000);
    }
};

} // namespace melvora::testing
