#include "mainwindow/MixPreview.h"

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIODevice>
#include <QLabel>
#include <QMediaDevices>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

namespace melvora {
namespace {

namespace keys = languagekeys::mixpreview;

const char *englishText(const IniKey &key) {
    static const std::pair<std::string_view, const char *> texts[] = {
        {"preview", "Preview…"},
        {"previewtitle", "Mix preview"},
        {"previewplay", "Play"},
        {"previewstop", "Stop"},
        {"previewnofiles", "Choose a video and a music file in the main window to see the mix here."},
        {"previewreading", "Reading the sound of the video and the music…"},
        {"previewmaking", "Making the mix… %1%"},
        {"previewhint", "Click the picture to choose where to play from."},
        {"previewfailed", "The preview could not be made: %1"},
        {"previewnooutput", "No sound output is available: the preview can be seen but not heard."},
        {"previewwaiting", "Waiting for the mix to get to the chosen point…"},
        {"previewown", "original sound"},
        {"previewmusic", "music as laid"},
        {"previewloudness", "loudness"},
        {"previewtarget", "Whole mix: %1 LUFS for the target %2 (as it is %3 LUFS, gain %4 dB)"},
        {"previewplanning", "Planning where the music jumps or loops…"},
        {"previewseams", "jumps and loop seams"},
        {"previewnoplan", "The mix will warn: %1"},
    };
    for (const auto &[name, text] : texts) {
        if (name == key.key)
            return text;
    }
    return "";
}

QString previewText(const IniKey &key) {
    return mixPreviewText(key);
}

// Levels are drawn in dB over this range below full scale.
constexpr double kFloorDb = -60;
// How often the settings are looked at and the picture and the sound output
// are fed: well inside the 0.3 s a change may take to show.
constexpr int kTickMs = 40;
// While Play waits for the mix to get to its point: the first sound goes out
// within this of being made.
constexpr int kWaitingTickMs = 5;
// What the sound output is handed ahead of what it plays.
constexpr int kSinkBufferMs = 200;

const QColor kOwnColour(150, 150, 150);
const QColor kMusicColour(40, 110, 220, 170);
const QColor kLoudnessColour(230, 120, 0);
const QColor kSeamColour(90, 40, 160);

double levelHeight(float level) {
    if (level <= 0)
        return 0;
    const double decibels = 20 * std::log10(double(level));
    return std::clamp((decibels - kFloorDb) / -kFloorDb, 0.0, 1.0);
}

double loudnessHeight(float lufs) {
    return std::clamp((double(lufs) - kFloorDb) / -kFloorDb, 0.0, 1.0);
}

// The loudest step of each pixel column, so that short sounds stay visible.
// A height grows with its step's value, so each column takes the height of
// its largest value: one logarithm a column rather than one a step (a
// 10-minute picture has 60000 steps, and redrawing it while the mix is made
// held Play's first sound back).
template <typename Height>
QPainterPath columnPath(const std::vector<float> &steps, std::size_t stepsShown, double stepsPerPixel, QRectF area,
                        bool filled, Height height) {
    QPainterPath path;
    const int columns = static_cast<int>(std::min<double>(area.width(), std::ceil(stepsShown / stepsPerPixel)));
    if (columns <= 0)
        return path;
    if (filled)
        path.moveTo(area.left(), area.bottom());
    for (int x = 0; x < columns; ++x) {
        const auto first = static_cast<std::size_t>(x * stepsPerPixel);
        const auto last = std::min(stepsShown, std::max(first + 1, static_cast<std::size_t>((x + 1) * stepsPerPixel)));
        const float largest =
            *std::max_element(steps.begin() + std::ptrdiff_t(first), steps.begin() + std::ptrdiff_t(last));
        const QPointF point(area.left() + x, area.bottom() - height(largest) * area.height());
        if (!filled && x == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    if (filled) {
        path.lineTo(area.left() + columns, area.bottom());
        path.closeSubpath();
    }
    return path;
}

// "1:05", "12:00", "1:02:03": a point in the video as players show it.
// "−14.0": one decimal, the sign of a gain always written.
QString tenths(double value, bool signed_ = false) {
    const QString text = QString::number(value, 'f', 1);
    return signed_ && value >= 0 ? u'+' + text : text;
}

QString clockText(double seconds) {
    const auto whole = static_cast<long long>(std::max(0.0, seconds));
    const long long hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
    const QString tail =
        QStringLiteral("%1:%2").arg(minutes, hours > 0 ? 2 : 1, 10, QChar(u'0')).arg(rest, 2, 10, QChar(u'0'));
    return hours > 0 ? QString::number(hours) + u':' + tail : tail;
}

// What the whole mix came to against its loudness target.
QString loudnessText(const MixPreviewRender::Levels &levels) {
    if (!levels.targetLufs)
        return {};
    return previewText(keys::target)
        .arg(tenths(levels.reachedLufs.value_or(-70)), tenths(*levels.targetLufs),
             tenths(levels.measuredLufs.value_or(-70)), tenths(levels.gainDb.value_or(0), true));
}

// The files last read, kept for the session: opening the preview again on
// the same, unchanged files needs no second reading.
struct ReadFiles {
    QString key;
    std::shared_ptr<const MixPreviewInputs> inputs;
};

ReadFiles &lastRead() {
    static ReadFiles files;
    return files;
}

QString filesKey(const QString &videoPath, const QString &musicPath) {
    QString key;
    for (const QString &path : {videoPath, musicPath}) {
        const QFileInfo info(path);
        key +=
            path + u'|' + info.lastModified().toString(Qt::ISODateWithMs) + u'|' + QString::number(info.size()) + u'\n';
    }
    return key;
}

} // namespace

QString mixPreviewText(const IniKey &key) {
    const std::string text = LanguageTexts::instance().text(key);
    return text.empty() ? QString::fromUtf8(englishText(key)) : QString::fromStdString(text);
}

MixPreviewTimeline::MixPreviewTimeline(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("previewTimeline"));
    setMinimumSize(480, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setCursor(Qt::PointingHandCursor);
}

void MixPreviewTimeline::setOwnLevels(std::vector<float> levels) {
    m_ownLevels = std::move(levels);
    update();
}

void MixPreviewTimeline::setRendering(MixPreviewRender::Levels levels) {
    // A new rendering starts short: the last complete one stays as a shadow.
    if (levels.mix.size() < m_levels.mix.size() && m_levels.mix.size() > m_previous.mix.size())
        m_previous = std::move(m_levels);
    m_levels = std::move(levels);
    update();
}

void MixPreviewTimeline::setMessage(const QString &text) {
    m_message = text;
    update();
}

void MixPreviewTimeline::setNotice(const QString &text) {
    if (m_notice == text)
        return;
    m_notice = text;
    update();
}

void MixPreviewTimeline::setPlayhead(double seconds) {
    m_playhead = seconds;
    update();
}

void MixPreviewTimeline::setPointSeconds(double seconds) {
    m_pointSeconds = std::clamp(seconds, 0.0, std::max(m_videoSeconds, 0.0));
    update();
    emit pointChosen(m_pointSeconds);
}

void MixPreviewTimeline::mousePressEvent(QMouseEvent *event) {
    if (m_videoSeconds <= 0 || event->button() != Qt::LeftButton)
        return;
    setPointSeconds(event->position().x() / std::max(1, width()) * m_videoSeconds);
}

void MixPreviewTimeline::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_videoSeconds <= 0) {
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    const QRectF area = QRectF(rect()).adjusted(1, 4, -1, -1);
    const double stepsPerPixel = m_videoSeconds * kPreviewSampleRate / kPreviewStepSamples / area.width();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kOwnColour);
    painter.drawPath(columnPath(m_ownLevels, m_ownLevels.size(), stepsPerPixel, area, true, levelHeight));

    const auto drawRendering = [&](const MixPreviewRender::Levels &levels, int alpha) {
        QColor music = kMusicColour;
        music.setAlpha(music.alpha() * alpha / 255);
        painter.setPen(Qt::NoPen);
        painter.setBrush(music);
        painter.drawPath(columnPath(levels.music, levels.music.size(), stepsPerPixel, area, true, levelHeight));
        QColor loudness = kLoudnessColour;
        loudness.setAlpha(alpha);
        painter.setPen(QPen(loudness, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(
            columnPath(levels.loudness, levels.loudness.size(), stepsPerPixel, area, false, loudnessHeight));
    };
    if (m_previous.mix.size() > m_levels.mix.size()) {
        // The part still to be remade, as it was.
        painter.save();
        const double made = m_levels.mix.size() / stepsPerPixel;
        painter.setClipRect(QRectF(area.left() + made, area.top(), area.width() - made, area.height()));
        drawRendering(m_previous, 70);
        painter.restore();
    }
    drawRendering(m_levels, 255);
    if (m_levels.targetLufs) {
        // The target as a dashed line, and what the mix came to.
        const double y = area.bottom() - loudnessHeight(float(*m_levels.targetLufs)) * area.height();
        painter.setPen(QPen(kLoudnessColour, 1, Qt::DashLine));
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(area.adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignTop, loudnessText(m_levels));
    }

    const auto xOf = [&](double seconds) { return area.left() + seconds / m_videoSeconds * area.width(); };
    // Where the song jumps or loops: thin dotted lines at those points of the video.
    painter.setPen(QPen(kSeamColour, 1, Qt::DotLine));
    for (double seam : m_levels.seamSeconds)
        painter.drawLine(QPointF(xOf(seam), area.top()), QPointF(xOf(seam), area.bottom()));
    // A time scale with some eight marks at round lengths, and the chosen point's time.
    const double wanted = m_videoSeconds / 8;
    double spacing = 1;
    for (double round : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 900.0, 1800.0, 3600.0})
        if (round <= std::max(wanted, 1.0))
            spacing = round;
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int textHeight = fontMetrics().height();
    for (double at = spacing; at < m_videoSeconds; at += spacing) {
        painter.drawLine(QPointF(xOf(at), area.bottom() - 4), QPointF(xOf(at), area.bottom()));
        painter.drawText(QPointF(xOf(at) + 2, area.top() + textHeight), clockText(at));
    }
    painter.setPen(QPen(QColor(200, 0, 40), 1));
    painter.drawLine(QPointF(xOf(m_pointSeconds), area.top()), QPointF(xOf(m_pointSeconds), area.bottom()));
    const QString point = clockText(m_pointSeconds);
    const double pointX = std::min(xOf(m_pointSeconds) + 3, area.right() - fontMetrics().horizontalAdvance(point) - 2);
    painter.drawText(QPointF(pointX, area.bottom() - 4), point);
    if (m_playhead >= 0) {
        painter.setPen(QPen(QColor(0, 150, 60), 2));
        painter.drawLine(QPointF(xOf(m_playhead), area.top()), QPointF(xOf(m_playhead), area.bottom()));
    }
    if (!m_notice.isEmpty()) {
        // Over the picture, on a plate of the background so that it reads.
        const QRectF plate = QRectF(fontMetrics().boundingRect(m_notice)).adjusted(-6, -3, 6, 3);
        const QRectF placed(area.center() - plate.center(), plate.size());
        QColor base = palette().color(QPalette::Base);
        base.setAlpha(220);
        painter.fillRect(placed, base);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(placed, Qt::AlignCenter, m_notice);
    }
}

struct MixPreviewDlg::Analysis {
    std::atomic<std::uint8_t> stop{0};
    std::atomic<bool> done{false};
    std::shared_ptr<const MixPreviewInputs> kept; // read before, unchanged since
    MixPreviewInputs inputs;
    int result = 0;
    std::string error;
};

MixPreviewDlg::MixPreviewDlg(std::function<MixSettings()> settingsNow, const QString &videoPath,
                             const QString &musicPath, QWidget *parent)
    : QDialog(parent), m_settingsNow(std::move(settingsNow)) {
    setObjectName(QStringLiteral("mixPreviewDialog"));
    setWindowTitle(previewText(keys::title));
    auto *layout = new QVBoxLayout(this);
    m_timeline = new MixPreviewTimeline(this);
    layout->addWidget(m_timeline, 1);

    m_legend = new QLabel(this);
    m_legend->setObjectName(QStringLiteral("previewLegend"));
    showLegend(false);
    layout->addWidget(m_legend);

    auto *row = new QHBoxLayout;
    m_play = new QPushButton(previewText(keys::play), this);
    m_play->setObjectName(QStringLiteral("previewPlay"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("previewStatus"));
    m_status->setWordWrap(true);
    row->addWidget(m_play);
    row->addWidget(m_status, 1);
    layout->addLayout(row);
    resize(720, 260);

    // Without a sound output the picture still works; the button says why it cannot play.
    m_haveOutput = !QMediaDevices::audioOutputs().isEmpty();
    m_play->setEnabled(false);
    if (!m_haveOutput)
        m_play->setToolTip(previewText(keys::noOutput));
    connect(m_play, &QPushButton::clicked, this, [this] { playing() ? stopPlaying() : play(); });
    connect(m_timeline, &MixPreviewTimeline::pointChosen, this, [this] {
        if (playing()) {
            stopPlaying();
            play();
        }
    });

    if (videoPath.isEmpty() || musicPath.isEmpty()) {
        m_timeline->setMessage(previewText(keys::noFiles));
        showStatus();
        return;
    }
    m_timeline->setMessage(previewText(keys::reading));
    m_analysis = std::make_shared<Analysis>();
    m_filesKey = filesKey(videoPath, musicPath);
    if (lastRead().key == m_filesKey && lastRead().inputs) {
        m_analysis->kept = lastRead().inputs;
        m_analysis->done = true;
    } else {
        m_analysisThread =
            std::thread([analysis = m_analysis, video = videoPath.toStdString(), music = musicPath.toStdString()] {
                analysis->result = analyseMixPreview(video, music, analysis->inputs, analysis->error, &analysis->stop);
                analysis->done = true;
            });
    }
    m_ticker = new QTimer(this);
    m_ticker->setInterval(kTickMs);
    connect(m_ticker, &QTimer::timeout, this, &MixPreviewDlg::tick);
    m_ticker->start();
    showStatus();
}

MixPreviewDlg::~MixPreviewDlg() {
    stopPlaying();
    if (m_analysis)
        m_analysis->stop = 1;
    if (m_analysisThread.joinable())
        m_analysisThread.join();
}

void MixPreviewDlg::tick() {
    if (!m_inputs && m_analysis && m_analysis->done)
        takeAnalysis();
    if (!m_inputs)
        return;
    // Every change of the dialog's settings remakes the picture from the start.
    const MixSettings settings = m_settingsNow();
    if (!m_render || !(m_render->settings() == settings))
        restartRendering(settings);
    // The picture is copied and drawn again only when more of it is made.
    const std::uint64_t changes = m_render->changes();
    if (changes != m_shownChanges || m_render.get() != m_shownRender) {
        m_timeline->setRendering(m_render->levels());
        m_shownChanges = changes;
        m_shownRender = m_render.get();
    }
    if (playing())
        feedSink();
    if (const int interval = playing() && m_waitingForMix ? kWaitingTickMs : kTickMs; m_ticker->interval() != interval)
        m_ticker->setInterval(interval);
    m_timeline->setNotice(m_render->planning() ? previewText(keys::planning) : QString());
    showLegend(!m_timeline->rendering().seamSeconds.empty());
    showStatus();
}

void MixPreviewDlg::showLegend(bool withSeams) {
    const auto swatch = [](const QColor &colour, const QString &text, const char *mark = "■") {
        return QStringLiteral("<span style='color:%1'>%2</span> %3")
            .arg(colour.name(), QString::fromUtf8(mark), text.toHtmlEscaped());
    };
    QString text = swatch(kOwnColour, previewText(keys::ownSound)) + QStringLiteral("&nbsp;&nbsp; ") +
                   swatch(kMusicColour, previewText(keys::music)) + QStringLiteral("&nbsp;&nbsp; ") +
                   swatch(kLoudnessColour, previewText(keys::loudness));
    if (withSeams)
        text += QStringLiteral("&nbsp;&nbsp; ") + swatch(kSeamColour, previewText(keys::seams), "┊");
    if (m_legend->text() != text)
        m_legend->setText(text);
}

void MixPreviewDlg::hideEvent(QHideEvent *event) {
    stopPlaying(); // nothing plays on from a closed window
    QDialog::hideEvent(event);
}

void MixPreviewDlg::takeAnalysis() {
    if (m_analysisThread.joinable())
        m_analysisThread.join();
    if (m_analysis->result < 0) {
        m_failure = previewText(keys::failed).arg(QString::fromStdString(m_analysis->error));
        m_timeline->setMessage(m_failure);
        m_ticker->stop();
        showStatus();
        return;
    }
    std::shared_ptr<const MixPreviewInputs> inputs = m_analysis->kept;
    if (!inputs) {
        inputs = std::make_shared<const MixPreviewInputs>(std::move(m_analysis->inputs));
        lastRead() = ReadFiles{m_filesKey, inputs};
    }
    m_timeline->setVideoSeconds(inputs->videoSeconds);
    m_timeline->setOwnLevels(inputs->ownLevels);
    m_inputs = std::move(inputs);
    m_play->setEnabled(m_haveOutput);
}

void MixPreviewDlg::restartRendering(const MixSettings &settings) {
    // The old rendering's threads stop within one chunk; while playing, its
    // sound goes on until the new one gets there, rather than a silence.
    if (playing() && m_render && !m_heardRender) {
        m_render->stopMaking();
        m_heardRender = std::move(m_render);
    }
    m_render.reset();
    m_shownRender = nullptr;
    m_render = std::make_unique<MixPreviewRender>(m_inputs, settings, playing());
    if (playing())
        m_render->playFrom(m_playSample); // made from where the sound is, not from the start
}

void MixPreviewDlg::showStatus() {
    QString text;
    if (!m_failure.isEmpty()) {
        text = m_failure;
    } else if (m_analysis == nullptr) {
        text = previewText(keys::noFiles);
    } else if (!m_inputs) {
        text = previewText(keys::reading);
    } else if (m_render) {
        std::string error;
        if (m_render->result(&error) < 0 && !error.empty())
            text = previewText(keys::failed).arg(QString::fromStdString(error));
        else if (m_render->planning())
            text = previewText(keys::planning);
        else if (playing() && m_waitingForMix)
            text = previewText(keys::waiting);
        else if (!m_render->finished())
            text = previewText(keys::making)
                       .arg(std::min<std::int64_t>(99, m_render->doneSamples() * 100 /
                                                           std::max<std::int64_t>(1, m_inputs->videoSamples())));
        else
            text = previewText(keys::hint);
        // A song that found no plan is laid as the run will lay it, and
        // the run's warning is told here as the run will tell it.
        if (const std::string warning = m_render->planWarning(); !warning.empty())
            text += QStringLiteral("\n") + previewText(keys::noPlan).arg(QString::fromStdString(warning));
    }
    if (!m_haveOutput && m_analysis)
        text += QStringLiteral("\n") + previewText(keys::noOutput);
    if (m_status->text() != text)
        m_status->setText(text);
}

void MixPreviewDlg::play() {
    if (!m_haveOutput || !m_inputs || m_sink)
        return;
    QAudioFormat format;
    format.setSampleRate(kPreviewSampleRate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    // Not a child of the dialog: it is let go with deleteLater (it may be the
    // sender of the signal that stops it), and this release's sound output
    // crashed when the dialog's destruction deleted it as a child.
    m_sink = new QAudioSink(QMediaDevices::defaultAudioOutput(), format);
    m_sink->setBufferSize(format.bytesForDuration(kSinkBufferMs * 1000));
    // A device that goes away ends the playing, not the preview.
    connect(m_sink, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (m_sink && state == QAudio::StoppedState && m_sink->error() != QAudio::NoError)
            stopPlaying();
    });
    m_sinkDevice = m_sink->start();
    if (!m_sinkDevice) {
        stopPlaying();
        return;
    }
    m_playSample = std::llround(m_timeline->pointSeconds() * kPreviewSampleRate);
    m_playStart = m_playSample;
    if (m_render)
        m_render->playFrom(m_playSample);
    m_play->setText(previewText(keys::stop));
    feedSink(); // the first sound goes out now, not a tick later
    if (m_waitingForMix && m_ticker)
        m_ticker->setInterval(kWaitingTickMs);
}

void MixPreviewDlg::stopPlaying() {
    if (!m_sink)
        return;
    // Let go first: stopping reports a state change, which must find nothing to stop.
    QAudioSink *sink = std::exchange(m_sink, nullptr);
    m_sinkDevice = nullptr;
    sink->stop();
    sink->deleteLater();
    m_waitingForMix = false;
    m_heardRender.reset();
    m_timeline->setPlayhead(-1);
    m_play->setText(previewText(keys::play));
}

void MixPreviewDlg::feedSink() {
    if (!m_sink || !m_sinkDevice || !m_render)
        return;
    const std::int64_t end = m_inputs->videoSamples();
    const qsizetype bytesPerFrame = 4;
    std::int64_t wanted = m_sink->bytesFree() / bytesPerFrame;
    std::vector<std::int16_t> samples;
    while (wanted > 0 && m_playSample < end) {
        samples.resize(std::size_t(wanted) * 2);
        std::int64_t got = m_render->readMixed(m_playSample, wanted, samples.data());
        if (got > 0)
            m_heardRender.reset(); // the new mix got there
        else if (m_heardRender)
            got = m_heardRender->readMixed(m_playSample, std::min<std::int64_t>(wanted, kPreviewSampleRate / 50),
                                           samples.data());
        m_waitingForMix = got == 0 && !m_render->finished();
        if (got == 0)
            break;
        const qint64 written = m_sinkDevice->write(reinterpret_cast<const char *>(samples.data()), got * bytesPerFrame);
        if (written <= 0)
            break;
        m_playSample += written / bytesPerFrame;
        wanted -= written / bytesPerFrame;
    }
    const std::int64_t buffered = (m_sink->bufferSize() - m_sink->bytesFree()) / bytesPerFrame;
    m_timeline->setPlayhead(double(std::max<std::int64_t>(0, m_playSample - buffered)) / kPreviewSampleRate);
    const bool mixEnded = m_render->finished() && m_playSample >= m_render->doneSamples();
    const bool drained = buffered <= 0 || m_sink->state() == QAudio::IdleState;
    if ((m_playSample >= end || mixEnded) && drained)
        stopPlaying();
}

} // namespace melvora
