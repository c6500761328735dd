#include "cli/Batch.h"
#include "cli/JsonEvents.h"
#include "cli/VideoRun.h"
#include "jobcontrol/OutputFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace melvora {

namespace {

constexpr int kExitFinished = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

enum class VideoState { Pending, Running, Finished, Stopped, Failed, Refused, NotStarted };

struct Video {
    std::string path;
    double durationSeconds = 0;
    VideoState state = VideoState::Pending;
    std::string outputPath;
    std::string reason; // why it failed or was refused
    int percent = 0;
    SpeedMeter speed;
};

// Duration that weighs a video in the batch's percent; a video of unknown
// length still counts.
double weightOf(const Video &video) { return video.durationSeconds > 0 ? video.durationSeconds : 1.0; }

std::string folderOf(const std::string &path) {
    const auto parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Gathers the videos of the inputs: a named file always takes part (refused
// when it is missing or no video), a folder gives only its files that probe
// as videos, in name order. A file named twice takes part once.
class VideoCollector {
public:
    VideoCollector(bool recursive, const std::atomic<int> &stopSignal)
        : m_recursive(recursive), m_stopSignal(stopSignal) {}

    void addInput(const std::string &input) {
        std::error_code ec;
        if (std::filesystem::is_directory(input, ec))
            addFolder(input);
        else
            addFile(input, true);
    }
    std::vector<std::unique_ptr<Video>> take() { return std::move(m_videos); }

private:
    void addFolder(const std::string &folder) {
        std::vector<std::filesystem::path> files, folders;
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(folder, ec)) {
            std::error_code typeError;
            // Links to folders are not followed: a loop of links would never end.
            if (entry.is_directory(typeError) && !entry.is_symlink(typeError))
                folders.push_back(entry.path());
            else if (entry.is_regular_file(typeError) && entry.path().filename() != kWriteProbeFileName)
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());
        for (const auto &file : files)
            addFile(file.string(), false);
        if (m_recursive)
            for (const auto &sub : folders)
                addFolder(sub.string());
    }

    void addFile(const std::string &path, bool named) {
        if (m_stopSignal.load() != 0)
            return;
        std::error_code ec;
        const auto canonical = std::filesystem::weakly_canonical(path, ec);
        const std::string identity = ec ? path : canonical.string();
        if (m_seen.count(identity) != 0)
            return;
        auto video = std::make_unique<Video>();
        video->path = path;
        if (!pathExists(path)) {
            video->state = VideoState::Refused;
            video->reason = "video file not found: " + path;
        } else if (std::string why; probeAccepts(m_probe, path, MediaKind::Video, &why)) {
            video->durationSeconds = probedVideoSeconds(m_probe);
        } else if (named) {
            video->state = VideoState::Refused;
            video->reason = "not a valid video file: " + path + " (" + why + ")";
        } else {
            return; // a folder's other files are no part of the batch
        }
        m_seen.insert(identity);
        m_videos.push_back(std::move(video));
    }

    bool m_recursive;
    const std::atomic<int> &m_stopSignal;
    MixJob m_probe;
    std::set<std::string> m_seen;
    std::vector<std::unique_ptr<Video>> m_videos;
};

int terminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

// The batch's progress on stderr: one line redrawn in place on a terminal,
// with a line above it for each video that ends; plain lines otherwise.
class BatchDisplay {
public:
    BatchDisplay(bool enabled, bool interactive) : m_enabled(enabled), m_interactive(interactive) {}

    void note(const std::string &line) {
        if (!m_enabled)
            return;
        if (m_interactive)
            std::fputs("\r\x1b[K", stderr);
        std::fprintf(stderr, "%s\n", line.c_str());
        m_drawn.clear();
        std::fflush(stderr);
    }

    void show(int done, int total, int percent, const std::string &speed, const std::vector<std::string> &current) {
        if (!m_enabled)
            return;
        std::ostringstream line;
        line << percent << "%  " << done << "/" << total << " videos  " << speed;
        if (m_interactive) {
            std::string names;
            for (const std::string &name : current)
                names += (names.empty() ? "  " : ", ") + std::filesystem::path(name).filename().string();
            std::string text = line.str() + names;
            const size_t width = static_cast<size_t>(terminalWidth() - 1);
            if (text.size() > width)
                text.resize(width);
            if (text == m_drawn)
                return;
            std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
            m_drawn = text;
        } else {
            // A line for each whole percent of the batch, as mix does.
            if (percent == m_lastPercent)
                return;
            std::fprintf(stderr, "%s\n", line.str().c_str());
            m_lastPercent = percent;
        }
        std::fflush(stderr);
    }

    void finish() {
        if (m_enabled && m_interactive && !m_drawn.empty()) {
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
    }

private:
    bool m_enabled;
    bool m_interactive;
    std::string m_drawn;
    int m_lastPercent = -1;
};

// One run at a time on its own job record.
struct Slot {
    std::unique_ptr<MixJob> job = std::make_unique<MixJob>();
    Video *video = nullptr;
};

class BatchRun {
public:
    BatchRun(const BatchSettings &settings, std::vector<std::unique_ptr<Video>> videos,
             const std::atomic<int> &stopSignal)
        : m_settings(settings), m_videos(std::move(videos)), m_stopSignal(stopSignal),
          m_events(stdout, settings.json), m_display(!settings.json, ::isatty(STDERR_FILENO) != 0) {
        m_options = settings.options;
        const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        const int total = m_options.encoderThreads > 0 ? m_options.encoderThreads : cores;
        m_options.encoderThreads = threadsPerVideo(total, settings.parallelVideos);
        m_slots.resize(static_cast<size_t>(
            std::max(1, std::min<int>(settings.parallelVideos, static_cast<int>(m_videos.size())))));
    }

    int run() {
        for (const auto &video : m_videos)
            if (video->state == VideoState::Refused)
                report(*video);
        size_t next = 0;
        while (true) {
            const bool stopping = m_stopSignal.load() != 0;
            for (Slot &slot : m_slots) {
                if (slot.video && stopping)
                    slot.job->stopRequested = 1;
                if (slot.video && waitForMixJob(*slot.job, std::chrono::milliseconds(0)))
                    endRun(slot);
                while (!slot.video && !stopping && next < m_videos.size())
                    startRun(slot, *m_videos[next++]);
            }
            updateProgress();
            const bool busy = std::any_of(m_slots.begin(), m_slots.end(), [](const Slot &s) { return s.video; });
            if (!busy && (stopping || next >= m_videos.size()))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const bool stopped = m_stopSignal.load() != 0;
        for (; next < m_videos.size(); ++next) {
            Video &video = *m_videos[next];
            if (video.state != VideoState::Pending)
                continue;
            video.state = VideoState::NotStarted;
            video.reason = "not started: the batch was stopped";
            report(video);
        }
        m_display.finish();
        return summarise(stopped);
    }

private:
    void startRun(Slot &slot, Video &video) {
        if (video.state != VideoState::Pending)
            return;
        StartRequest request;
        const std::string folder = m_settings.outputFolder.empty() ? folderOf(video.path) : m_settings.outputFolder;
        request.inputs = {video.path, m_settings.musicPath, folder};
        request.probedVideoSeconds = video.durationSeconds;
        request.musicProbed = true;
        applyMixOptions(m_options, request);
        const StartOutcome outcome = startMixRun(*slot.job, request);
        if (outcome.step != StartStep::Started) {
            video.state = isRefusal(outcome.step) ? VideoState::Refused : VideoState::Failed;
            video.reason = startFailureText(outcome, request.inputs);
            report(video);
            return;
        }
        video.state = VideoState::Running;
        video.outputPath = outcome.outputPath;
        video.speed = SpeedMeter();
        slot.video = &video;
        m_events.start(video.path, video.outputPath);
        m_display.note("started  " + video.path + " -> " + video.outputPath);
    }

    void endRun(Slot &slot) {
        joinMixJob(*slot.job);
        Video &video = *slot.video;
        slot.video = nullptr;
        for (const std::string &warning : slot.job->result.warnings) {
            m_events.warning(video.path, warning);
            m_display.note("warning  " + video.path + ": " + warning);
        }
        switch (slot.job->status.load()) {
        case JobStatus::Finished:
            video.state = VideoState::Finished;
            video.percent = 100;
            break;
        case JobStatus::Failed:
            // The engine has removed the output it could not finish.
            video.state = VideoState::Failed;
            video.reason = "mix failed: " + slot.job->result.errorMessage;
            break;
        default:
            // Stopped: the output written so far is finalised.
            video.state = VideoState::Stopped;
            break;
        }
        report(video);
    }

    void report(const Video &video) {
        switch (video.state) {
        case VideoState::Finished:
        case VideoState::Stopped: {
            const bool stopped = video.state == VideoState::Stopped;
            m_events.finished(video.path, video.outputPath, stopped);
            m_display.note(std::string(stopped ? "stopped  " : "finished ") + video.outputPath);
            break;
        }
        case VideoState::Failed:
            m_events.failed(video.path, video.outputPath, video.reason);
            m_display.note("failed   " + video.path + ": " + video.reason);
            break;
        case VideoState::Refused:
        case VideoState::NotStarted:
            m_events.refused(video.path, video.reason);
            m_display.note("refused  " + video.path + ": " + video.reason);
            break;
        case VideoState::Pending:
        case VideoState::Running:
            break;
        }
    }

    void updateProgress() {
        double total = 0, ended = 0, written = 0, writtenTotal = 0;
        int done = 0, counted = 0;
        std::vector<std::string> current;
        for (const auto &entry : m_videos) {
            Video &video = *entry;
            const double weight = weightOf(video);
            total += weight;
            ++counted;
            switch (video.state) {
            case VideoState::Pending:
                writtenTotal += weight;
                break;
            case VideoState::Running: {
                const int percent = std::clamp(runningPercent(video), 0, 100);
                const double part = weight * percent / 100.0;
                ended += part;
                written += part;
                writtenTotal += weight;
                video.speed.update(video.durationSeconds * percent / 100.0, video.durationSeconds);
                if (percent != video.percent) {
                    video.percent = percent;
                    m_events.progress(video.path, percent, video.speed.speed());
                }
                current.push_back(video.path);
                break;
            }
            case VideoState::Finished:
                ended += weight;
                written += weight;
                writtenTotal += weight;
                ++done;
                break;
            default:
                ended += weight;
                ++done;
                break;
            }
        }
        m_speed.update(written, writtenTotal);
        const int percent = total > 0 ? static_cast<int>(ended * 100.0 / total) : 100;
        m_display.show(done, counted, percent,
                       speedText(m_speed.speed()) + "  " + timeLeftText(m_speed.secondsLeft()) + " left", current);
    }

    int runningPercent(const Video &video) const {
        for (const Slot &slot : m_slots)
            if (slot.video == &video)
                return slot.job->progressPercent.load();
        return video.percent;
    }

    int summarise(bool stopped) {
        BatchTotals totals;
        std::ostringstream text;
        for (const auto &entry : m_videos) {
            const Video &video = *entry;
            switch (video.state) {
            case VideoState::Finished:
                ++totals.finished;
                totals.outputs.push_back(video.outputPath);
                text << "finished  " << video.outputPath << "\n";
                break;
            case VideoState::Stopped:
                ++totals.stopped;
                totals.outputs.push_back(video.outputPath);
                text << "stopped   " << video.outputPath << " (finalised where the stop came)\n";
                break;
            case VideoState::Failed:
                ++totals.failed;
                text << "failed    " << video.path << ": " << video.reason << "\n";
                break;
            case VideoState::Refused:
                ++totals.refused;
                text << "refused   " << video.path << ": " << video.reason << "\n";
                break;
            case VideoState::NotStarted:
                ++totals.notStarted;
                text << "skipped   " << video.path << ": " << video.reason << "\n";
                break;
            case VideoState::Pending:
            case VideoState::Running:
                break;
            }
        }
        if (m_settings.json) {
            m_events.summary(totals, stopped);
        } else {
            std::cout << text.str() << totals.finished << " finished, " << totals.failed << " failed, "
                      << totals.refused << " refused";
            if (stopped)
                std::cout << "; stopped: " << totals.stopped << " cut short, " << totals.notStarted << " not started";
            std::cout << std::endl;
        }
        if (stopped)
            return kExitStopped;
        return totals.failed + totals.refused > 0 ? kExitSomeFailed : kExitFinished;
    }

    const BatchSettings &m_settings;
    MixOptions m_options;
    std::vector<std::unique_ptr<Video>> m_videos;
    const std::atomic<int> &m_stopSignal;
    JsonEvents m_events;
    BatchDisplay m_display;
    std::vector<Slot> m_slots;
    SpeedMeter m_speed;
};

int usageError(const std::string &message) {
    std::cerr << "melvora-cli: " << message << "\n";
    return kExitUsage;
}

} // namespace

int runBatch(const BatchSettings &settings, const std::atomic<int> &stopSignal) {
    // What every video shares is checked once: a bad music file or output
    // folder is a usage error, not one refusal per video.
    if (!pathExists(settings.musicPath))
        return usageError("music file not found: " + settings.musicPath);
    if (!settings.outputFolder.empty() && !folderExists(settings.outputFolder))
        return usageError("output folder not found: " + settings.outputFolder);
    {
        MixJob probe;
        std::string why;
        if (!probeAccepts(probe, settings.musicPath, MediaKind::Music, &why))
            return usageError("not a valid audio file: " + settings.musicPath + " (" + why + ")");
    }
    VideoCollector collector(settings.recursive, stopSignal);
    for (const std::string &input : settings.inputs)
        collector.addInput(input);
    if (stopSignal.load() != 0)
        return kExitStopped;
    std::vector<std::unique_ptr<Video>> videos = collector.take();
    if (videos.empty())
        return usageError("nothing to do: no videos found in the inputs");
    return BatchRun(settings, std::move(videos), stopSignal).run();
}

} // namespace melvora
