#pragma once

#include "config/IniKey.h"
#include "engine/MixPreview.h"
#include "engine/MixSettings.h"

#include <QDialog>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QAudioSink;
class QIODevice;
class QLabel;
class QPushButton;
class QTimer;

namespace melvora {

// The language text of a preview key in [MIX], or its English text.
QString mixPreviewText(const IniKey &key);

// The whole video's length as a picture: the own sound's level (grey), the
// music as the mix lays it (blue) and the mix's momentary loudness (a line),
// where a planned song jumps or loops (dotted lines), and the point a click
// chose, from which Play plays.
class MixPreviewTimeline : public QWidget {
    Q_OBJECT

public:
    explicit MixPreviewTimeline(QWidget *parent = nullptr);

    void setVideoSeconds(double seconds) {
        m_videoSeconds = seconds;
        update();
    }
    void setOwnLevels(std::vector<float> levels);
    // The steps of the current rendering made so far; older ones beyond
    // them are drawn faded until the new ones get there.
    void setRendering(MixPreviewRender::Levels levels);
    void setMessage(const QString &text);
    // A short text over the picture (while the song's plan is made); "" none.
    void setNotice(const QString &text);
    const QString &notice() const { return m_notice; }
    void setPlayhead(double seconds); // negative: none
    double playhead() const { return m_playhead; }

    double pointSeconds() const { return m_pointSeconds; }
    void setPointSeconds(double seconds);
    const MixPreviewRender::Levels &rendering() const { return m_levels; }

signals:
    void pointChosen(double seconds);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    double m_videoSeconds = 0;
    std::vector<float> m_ownLevels;
    MixPreviewRender::Levels m_levels;
    MixPreviewRender::Levels m_previous;
    QString m_message;
    QString m_notice;
    double m_pointSeconds = 0;
    double m_playhead = -1;
};

// The preview of the mix dialog's settings for the files chosen in the main
// window: reads their sound once, remakes the picture whenever the settings
// change and plays the mix from the chosen point. It asks settingsNow for
// the settings as they stand, so every control of the dialog counts.
class MixPreviewDlg : public QDialog {
    Q_OBJECT

public:
    MixPreviewDlg(std::function<MixSettings()> settingsNow, const QString &videoPath, const QString &musicPath,
                  QWidget *parent = nullptr);
    ~MixPreviewDlg() override;

    MixPreviewTimeline *timeline() const { return m_timeline; }
    QPushButton *playButton() const { return m_play; }
    QLabel *statusLabel() const { return m_status; }
    // The rendering on show; null until the sound is read.
    const MixPreviewRender *rendering() const { return m_render.get(); }
    bool playing() const { return m_sink != nullptr; }
    // Samples handed to the sound output since Play.
    std::int64_t soundHanded() const { return playing() ? m_playSample - m_playStart : 0; }

    void play();
    void stopPlaying();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void tick();
    void takeAnalysis();
    void restartRendering(const MixSettings &settings);
    void feedSink();
    void showStatus();
    void showLegend(bool withSeams);

    std::function<MixSettings()> m_settingsNow;
    MixPreviewTimeline *m_timeline = nullptr;
    QPushButton *m_play = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_legend = nullptr;
    QTimer *m_ticker = nullptr;
    QString m_failure;
    bool m_haveOutput = false;

    // The reading of the files, on a thread of its own.
    struct Analysis;
    std::shared_ptr<Analysis> m_analysis;
    std::thread m_analysisThread;
    std::shared_ptr<const MixPreviewInputs> m_inputs;
    QString m_filesKey; // the files and their state when read

    std::unique_ptr<MixPreviewRender> m_render;
    // While playing: the rendering before the last change, heard until the
    // new one gets to the sound's point.
    std::unique_ptr<MixPreviewRender> m_heardRender;
    const MixPreviewRender *m_shownRender = nullptr; // what the picture shows, and how far
    std::uint64_t m_shownChanges = 0;

    QAudioSink *m_sink = nullptr;
    QIODevice *m_sinkDevice = nullptr;
    std::int64_t m_playSample = 0; // the next sample handed to the sound output
    std::int64_t m_playStart = 0;
    bool m_waitingForMix = false;
};

} // namespace melvora
