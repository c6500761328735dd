// The one road of a video's run, for mix (a batch of one video) and batch:
// the start, the progress, the warnings, the music's loudness, the result
// and the JSON events are each written once here; only the words differ.

#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/InputCollection.h"
#include "cli/JsonEvents.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputFolder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

namespace melvora {

namespace {

std::string tenths(double value) { return formatMixNumber(std::round(value * 10) / 10); }

// "mix loudness -20.3 LUFS, raised 6.3 dB to -14 LUFS, true peak -1.4 dBTP under the -1 dBTP ceiling
// (1 measuring pass)", and ", encoded twice" (or 3 times) where the peaks went over
std::string wholeMixLoudnessLine(const MixResult &result) {
    const double gain = result.appliedMixSettings.wholeMixGainDb.value_or(0);
    std::string line = "mix loudness " + tenths(result.measuredMixLoudness) + " LUFS, ";
    line += (gain >= 0 ? "raised " + tenths(gain) : "lowered " + tenths(-gain)) + " dB";
    if (std::isfinite(result.outputLoudness))
        line += " to " + tenths(result.outputLoudness) + " LUFS";
    const double ceiling = result.appliedMixSettings.truePeakDb;
    line += ", true peak ";
    if (const double peak = std::round(result.outputTruePeak * 10) / 10; std::isfinite(peak))
        line += formatMixNumber(peak) + (peak > ceiling ? " dBTP over the " : " dBTP under the ");
    else
        line += "under the ";
    const int passes = result.loudnessPasses;
    return line + formatMixNumber(ceiling) + " dBTP ceiling (" + std::to_string(passes) +
           (passes == 1 ? " measuring pass" : " measuring passes") +
           (result.encodings == 2   ? ", encoded twice)"
            : result.encodings > 2 ? ", encoded " + std::to_string(result.encodings) + " times)"
                                   : ")");
}

// One run at a time on its own job record.
struct Slot {
    std::unique_ptr<MixJob> job = std::make_unique<MixJob>();
    Video *video = nullptr;
};

// Runs the videos, parallelVideos at a time. A single video is reported as
// mix reports it: its messages as "melvora-cli: …" on stderr (with --json
// too), its own bar or percent lines, its output's path on stdout. A batch
// writes a line per event above its overall progress and a summary on
// stdout. The JSON events are the same for both.
class VideoRuns {
public:
    // searchStopped: a stop ended the search for the videos, so there may be
    // more than these and none of them starts.
    VideoRuns(const BatchSettings &settings, std::vector<Video> videos, bool single, bool searchStopped = false)
        : m_settings(settings), m_options(settings.options), m_videos(std::move(videos)), m_single(single),
          m_searchStopped(searchStopped), m_events(stdout, settings.json), m_display(!settings.json, single) {
        if (settings.parallelVideos > 1) {
            const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
            const int total = m_options.encoderThreads > 0 ? m_options.encoderThreads : cores;
            m_options.encoderThreads = threadsPerVideo(total, settings.parallelVideos);
        }
        m_slots.resize(std::max<size_t>(1, std::min<size_t>(settings.parallelVideos, m_videos.size())));
    }

    int run() {
        for (const Video &video : m_videos)
            if (video.state == VideoState::Refused)
                report(video);
        size_t next = 0;
        while (true) {
            const bool stopping = stopSignal().load() != 0;
            for (Slot &slot : m_slots) {
                if (slot.video) {
                    if (stopping)
                        slot.job->stopRequested = 1;
                    if (waitForMixJob(*slot.job, std::chrono::milliseconds(0)))
                        endRun(slot);
                    else
                        track(*slot.video, slot.job->progressPercent.load());
                }
                while (!slot.video && !stopping && next < m_videos.size())
                    startRun(slot, m_videos[next++]);
            }
            if (!m_single && !m_videos.empty())
                showBatchProgress();
            const auto busy = std::find_if(m_slots.begin(), m_slots.end(), [](const Slot &s) { return s.video; });
            if (busy == m_slots.end())
                break;
            waitForMixJob(*busy->job, std::chrono::milliseconds(50));
        }
        for (; next < m_videos.size(); ++next) {
            Video &video = m_videos[next];
            if (video.state != VideoState::Pending)
                continue;
            video.state = VideoState::NotStarted;
            video.reason = m_single ? "not started: stopped before it began" : "not started: the batch was stopped";
            report(video);
        }
        m_display.finish();
        return summarise();
    }

private:
    void startRun(Slot &slot, Video &video) {
        if (video.state != VideoState::Pending)
            return;
        StartRequest request;
        const std::string folder = m_settings.outputFolder.empty() ? folderOf(video.path) : m_settings.outputFolder;
        request.inputs = {video.path, m_settings.musicPath, folder};
        // A batch has probed its videos and its music already; mix leaves it to the start.
        request.probedVideoSeconds = video.probedSeconds;
        request.musicProbed = !m_single;
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
        video.durationSeconds = slot.job->request.durationSeconds;
        video.speed = SpeedMeter();
        slot.video = &video;
        m_events.start(video.path, video.outputPath);
        if (!m_single)
            m_display.note("started  " + video.path + " -> " + video.outputPath);
    }

    // A running video's percent: an event when it changed; a single video's display.
    void track(Video &video, int percent) {
        video.speed.update(video.durationSeconds * percent / 100.0, video.durationSeconds);
        if (percent != video.percent)
            m_events.progress(video.path, percent, video.speed.speed());
        video.percent = percent;
        if (m_single)
            m_display.update(percent, speedAndTimeLeft(video.speed));
    }

    void endRun(Slot &slot) {
        MixJob &job = *slot.job;
        Video &video = *slot.video;
        slot.video = nullptr;
        joinMixJob(job);
        const JobStatus status = job.status.load();
        if (status == JobStatus::Finished)
            track(video, 100);
        if (m_single)
            m_display.finish();
        for (const std::string &warning : job.result.warnings) {
            m_events.warning(video.path, warning);
            tell(video, "warning  ", warning, "warning: ");
        }
        if (job.result.fit.kind != MusicFitReport::Kind::None) {
            m_events.fit(video.path, job.result.fit);
            tell(video, "fit      ", musicFitText(job.result.fit));
        }
        if (std::isfinite(job.result.measuredMusicLoudness) && job.result.appliedMixSettings.musicGainDb)
            tell(video, "loudness ",
                 "music loudness " + tenths(job.result.measuredMusicLoudness) + " LUFS, music level set to " +
                     tenths(*job.result.appliedMixSettings.musicGainDb) + " dB");
        if (const MixResult &result = job.result; std::isfinite(result.measuredMixLoudness)) {
            m_events.loudness(video.path, result.measuredMixLoudness,
                              result.appliedMixSettings.wholeMixGainDb.value_or(0), result.outputLoudness,
                              result.outputTruePeak, result.appliedMixSettings.truePeakDb, result.loudnessPasses,
                              result.encodings);
            tell(video, "loudness ", wholeMixLoudnessLine(result));
        }
        if (status == JobStatus::Failed) {
            // The engine has removed the output it could not finish.
            video.state = VideoState::Failed;
            video.reason = "mix failed: " + job.result.errorMessage;
        } else if (status == JobStatus::Finished) {
            video.state = VideoState::Finished;
        } else if (std::error_code ignored; std::filesystem::exists(video.outputPath, ignored)) {
            video.state = VideoState::Stopped; // finalised where the stop came
        } else {
            // Stopped while the music or the mix was being measured: the name
            // claimed for it was given back, and there is no file to point to.
            video.state = VideoState::NotStarted;
            video.reason = "stopped before any of it was written";
        }
        report(video);
    }

    // One message of a video: mix says it, batch notes it under the video's name.
    void tell(const Video &video, const char *kind, const std::string &text, const char *mixPrefix = "") {
        if (m_single)
            say(mixPrefix + text);
        else
            m_display.note(kind + video.path + ": " + text);
    }

    void report(const Video &video) {
        switch (video.state) {
        case VideoState::Finished:
        case VideoState::Stopped: {
            const bool stopped = video.state == VideoState::Stopped;
            m_events.finished(video.path, video.outputPath, stopped);
            if (!m_single)
                m_display.note(std::string(stopped ? "stopped  " : "finished ") + video.outputPath);
            else if (!m_settings.json)
                std::cout << video.outputPath << std::endl;
            break;
        }
        case VideoState::Failed:
            m_events.failed(video.path, video.outputPath, video.reason);
            tell(video, "failed   ", video.reason);
            break;
        case VideoState::Refused:
            m_events.refused(video.path, video.reason);
            tell(video, "refused  ", video.reason);
            break;
        case VideoState::NotStarted:
            m_events.notStarted(video.path, video.reason);
            tell(video, "skipped  ", video.reason);
            break;
        case VideoState::Pending:
        case VideoState::Running:
            break;
        }
    }

    // The batch's percent weighs each video by its length (one of unknown
    // length still counts); the speed is that of the videos being written.
    void showBatchProgress() {
        double total = 0, ended = 0, written = 0, writtenTotal = 0;
        int done = 0;
        std::string names;
        for (const Video &video : m_videos) {
            const double weight = video.durationSeconds > 0 ? video.durationSeconds : 1.0;
            total += weight;
            switch (video.state) {
            case VideoState::Pending:
                writtenTotal += weight;
                break;
            case VideoState::Running: {
                const double part = weight * std::max(video.percent, 0) / 100.0;
                ended += part;
                written += part;
                writtenTotal += weight;
                names += (names.empty() ? "  " : ", ") + std::filesystem::path(video.path).filename().string();
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
        m_display.update(percent,
                         std::to_string(done) + "/" + std::to_string(m_videos.size()) + " videos  " +
                             speedAndTimeLeft(m_speed),
                         names);
    }

    int summarise() {
        BatchTotals totals;
        totals.searchStopped = m_searchStopped;
        std::ostringstream text;
        for (const Video &video : m_videos) {
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
            m_events.summary(totals);
        } else if (!m_single) {
            std::cout << text.str() << totals.finished << " finished, " << totals.failed << " failed, "
                      << totals.refused << " refused";
            if (totals.wasStopped())
                std::cout << "; stopped: " << totals.stopped << " cut short, " << totals.notStarted << " not started";
            std::cout << std::endl;
        }
        return exitCodeOf(totals, m_single);
    }

    const BatchSettings &m_settings;
    MixOptions m_options;
    std::vector<Video> m_videos;
    bool m_single;
    bool m_searchStopped;
    JsonEvents m_events;
    ProgressDisplay m_display;
    std::vector<Slot> m_slots;
    SpeedMeter m_speed;
};

} // namespace

int runMix(const BatchSettings &settings) {
    std::vector<Video> videos(1);
    videos[0].path = settings.inputs.front();
    return VideoRuns(settings, std::move(videos), true).run();
}

namespace {

// The whole batch refused before any video: said on stderr and, for a
// program reading --json, as a refused event with no video and a summary.
int refuseBatch(const BatchSettings &settings, const std::string &message) {
    JsonEvents events(stdout, settings.json);
    events.refusedBatch(message);
    events.summary(BatchTotals{});
    return refuse(message);
}

} // namespace

int runBatch(const BatchSettings &settings) {
    // What every video shares is checked once: a bad music file or output
    // folder is a usage error, not one refusal per video.
    if (!pathExists(settings.musicPath))
        return refuseBatch(settings, "music file not found: " + settings.musicPath);
    if (!settings.outputFolder.empty() && !folderExists(settings.outputFolder))
        return refuseBatch(settings, "output folder not found: " + settings.outputFolder);
    {
        MixJob probe;
        std::string why;
        if (!probeAccepts(probe, settings.musicPath, MediaKind::Music, &why))
            return refuseBatch(settings, "not a valid audio file: " + settings.musicPath + " (" + why + ")");
    }
    std::vector<Video> videos = collectVideos(settings.inputs, settings.recursive);
    // A stop during the search still ends as every stopped run does: what was
    // found is reported as not started, then the summary.
    const bool stopped = stopSignal().load() != 0;
    if (videos.empty() && !stopped)
        return refuseBatch(settings, "nothing to do: no videos found in the inputs");
    return VideoRuns(settings, std::move(videos), false, stopped).run();
}

} // namespace melvora
