#pragma once

#include "jobcontrol/StartFlow.h"
#include "progress/CDUDuduzezDlg.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace melvora {

class CTonvexDlg;
class ProgressPoller;
struct MixJob;

// What the main window's buttons and drops do: adding the video and the
// music, the output folder's Browse and Open folder, the start of a run with
// its progress dialog and result, and files dropped on the window. The window
// owns one of these; it works on the window's controls, members and job.
class MainWindowActions : public QObject {
    Q_OBJECT

public:
    // The fixed texts the actions show where the language file has no
    // caption for them ([CAPTIONS]).
    static constexpr const char *kNoVideo = "请先添加视频文件!";
    static constexpr const char *kNoMusic = "请先添加音频文件!";
    static constexpr const char *kVideoMissing = "视频文件不存在，请先添加视频文件!";
    static constexpr const char *kMusicMissing = "音频文件不存在，请先添加音频文件!";
    static constexpr const char *kNotAVideo = "不是有效的视频文件，请添加视频文件！";
    static constexpr const char *kNotMusic = "不是有效的音频文件，请添加音频文件！";
    static constexpr const char *kOutputNotCreated = "MP4文件生成失败，请点击浏览按钮选择保存到其他目录!";
    static constexpr const char *kPickedFolderInvalid = "目录无效!请点击浏览按钮选择保存其他目录";
    static constexpr const char *kPickedFolderNotWritable = "没有写权限，请保存到其他目录!";
    static constexpr const char *kFolderPickerTitle = "Please select output folder:";
    static constexpr const char *kVideoPatterns =
        "*.rm;*.rmvb;*.flv;*.swf;*.f4v;*.mov;*.qt;*.avi;*.mpg;*.mpeg;*.mod;*.tod;*.mts;*.ts;*.nut;*.h264;*.nsv;*.dv;"
        "*.m2t;*.vob;*.dat;*.mkv;*.mp4;*.m4v;*.3gp;*.3g2;*.3gpp;*.asf;*.wmv;*.wm";
    static constexpr const char *kMusicPatterns = "*.aac;*.ac3;*.flac;*.dts;*.amr;*.mid;*.aiff;*.ape;*.cue;*.mpa;*.au;"
                                                  "*.mp3;*.ogg;*.ra;*.ram;*.wav;*.cda;*.m4a;*.wma;*.mp2";

    explicit MainWindowActions(CTonvexDlg &window);
    ~MainWindowActions() override;

    // The open-file dialog's filter text: the media filter named by the
    // language, its patterns, then all files.
    static QString filterText(const char *patterns);

    // Replaces the worker start, so that tests can have it fail; an empty
    // one restores the real start.
    void setLauncher(RunLauncher launcher);

    // The progress dialog of the current or last run; none before the first.
    CDUDuduzezDlg *progressDialog() const { return m_progressDialog; }
    bool isRunning() const { return m_running; }

public slots:
    void addVideo();
    void addMusic();
    void browseForOutputFolder();
    void openOutputFolder();
    void start();
    // Each file is probed as a video, in order, up to the first one that is
    // not a video, which is reported. The boxes do not change.
    void dropFiles(const QStringList &paths);

private:
    struct Accepted {
        QString path;
        double seconds = 0; // the video's length from its probe
    };

    enum class ProbeKind { Video, Music };

    // The job, once any worker that still uses it has ended; nullptr when
    // the window closed meanwhile.
    MixJob *readyJob();
    // Probes a file into the job; true when it is of the wanted kind.
    bool probe(MixJob &job, const QString &path, ProbeKind kind);
    void addFile(ProbeKind kind);
    void tellRefusal(StartRefusal refusal);
    void runProgressDialog(MixJob &job, const QString &videoPath);
    // After the user stopped a run: once the worker has finished the file,
    // says how much of the video it holds and where it is.
    void reportStop(MixJob &job);
    void windowClosing();

    CTonvexDlg &m_window;
    RunLauncher m_launcher; // empty: the real start
    // What the last accepting video probe accepted, with the duration it
    // read, and the last accepted music file: a start uses these only while
    // the boxes still show the same files.
    Accepted m_video;
    QString m_music;
    QPointer<CDUDuduzezDlg> m_progressDialog;
    std::unique_ptr<ProgressPoller> m_poller;
    bool m_running = false;
    bool m_busy = false;
    bool m_closing = false;
};

} // namespace melvora
