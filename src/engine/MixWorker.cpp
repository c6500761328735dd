// The worker: one whole run from opening the files to releasing them, and
// the one place that turns the run's result into its final status.

#include "engine/ClockText.h"
#include "engine/Loudness.h"
#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"
#include "engine/OutputFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>

extern "C" {
#include <libavutil/opt.h>
}

namespace melvora {
namespace {

std::int64_t packetsOf(const MixRun &run, int outputStream) {
    const AVFormatContext *output = run.outputContext.get();
    return output && outputStream >= 0 ? output->streams[outputStream]->nb_frames : 0;
}

// FFmpeg's Matroska muxer writes a file that no demuxer reads back when it
// holds no packet at all; such a file is removed rather than left behind
// as an output that will not open.
bool unreadableWhenEmpty(const MixRun &run) {
    const AVFormatContext *output = run.outputContext.get();
    if (!output || !output->oformat)
        return false;
    for (unsigned i = 0; i < output->nb_streams; ++i)
        if (output->streams[i]->nb_frames > 0)
            return false;
    const std::string_view name = output->oformat->name;
    return name == "matroska" || name == "webm";
}

// A loudness target becomes the music's level once the music is measured.
int measureMusicLoudness(MixRun &run) {
    if (!run.request.mixSettings.musicLoudnessLufs)
        return 0;
    double lufs = 0;
    const int result = measureIntegratedLoudness(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder.get(),
                                                 lufs, &run.job.stopRequested);
    if (result == AVERROR_EXIT)
        return result; // a stop, not a failure of the measurement
    if (result < 0)
        return fail(run, "Could not measure the music's loudness", result);
    run.result.measuredMusicLoudness = lufs;
    run.result.appliedMixSettings = withMeasuredLoudness(run.request.mixSettings, lufs);
    return 0;
}

// The graph of the mode, from the mix settings, and the feed that reads
// and shapes the music for it.
int buildGraph(MixRun &run) {
    const MixSettings &settings = run.result.appliedMixSettings;
    if (run.mode == MixMode::CopyMusic)
        return 0;
    run.musicFeed = std::make_unique<MusicFeed>(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder.get(),
                                                settings, &run.job.stopRequested);
    if (run.plannedMusic)
        run.musicFeed->playPlanned(run.plannedMusic);
    if (run.mode == MixMode::MixBoth)
        return buildMixGraph(run, mixGraphDescription(settings, run.request.durationSeconds).c_str());
    return buildSingleInputGraph(run, musicGraphDescription(settings, run.request.durationSeconds).c_str());
}

int allocateLoopFrames(MixRun &run) {
    run.videoSoundFrame.reset(av_frame_alloc());
    run.sinkFrame.reset(av_frame_alloc());
    run.readPacket.reset(av_packet_alloc());
    if (!run.videoSoundFrame || !run.sinkFrame || !run.readPacket)
        return fail(run, "Out of memory", AVERROR(ENOMEM));
    return 0;
}

// Each measuring pass takes this much of the progress bar: decoding and
// mixing without encoding or writing costs a fraction of a run.
constexpr int kMeasuringProgressShare = 15;

// One pass over the inputs, opened afresh, that makes the new sound with the
// applied settings and the run's plan of the music exactly as the run will,
// and only measures it.
int measureMixPass(const MixRun &run, LoudnessMeter &meter, int passIndex) {
    MixJob &job = run.job;
    MixRun pass(job);
    pass.plannedMusic = run.plannedMusic;
    pass.measuringOnly = true;
    pass.soundMeter = &meter;
    pass.progressFrom = passIndex * kMeasuringProgressShare;
    pass.progressSpan = kMeasuringProgressShare;
    // What the inputs hold is told once, by the run itself.
    const std::size_t warningsBefore = job.result.warnings.size();
    int result = allocateLoopFrames(pass);
    if (result >= 0)
        result = openMusicInput(pass);
    if (result >= 0)
        result = openVideoInput(pass);
    if (result >= 0) {
        // Only the picture (which paces the run) and the own sound are read.
        pass.streamMap.assign(pass.videoInput->nb_streams, -1);
        pass.streamMap[pass.videoStreamIndex] = 0;
        if (pass.mode == MixMode::MixBoth)
            pass.streamMap[pass.videoAudioStreamIndex] = 0;
        result = buildGraph(pass);
    }
    job.result.warnings.resize(warningsBefore);
    if (result < 0)
        return result;
    anchorSoundToVideo(pass);
    job.interruptArmed = true;
    result = runMixingLoop(pass);
    job.interruptArmed = false;
    if (result == AVERROR_EOF)
        return 0;
    return result == AVERROR_EXIT ? result : fail(pass, "Could not measure the mix's loudness", result);
}

// A loudness target for the whole mix becomes one gain, found by passes
// that make the mix exactly as the run will and only measure it.
int measureWholeMix(MixRun &run) {
    MixSettings &applied = run.result.appliedMixSettings;
    if (!applied.loudnessLufs)
        return 0;
    WholeMixGain found;
    const auto pass = [&run, &applied](std::optional<double> gainDb, LoudnessMeter &meter, int index) {
        applied.wholeMixGainDb = gainDb;
        return measureMixPass(run, meter, index);
    };
    const int result = searchWholeMixGain(applied, pass, found);
    run.result.loudnessPasses = found.passes;
    if (found.passes > 0)
        run.result.measuredMixLoudness = found.measuredLufs;
    if (result < 0)
        return result;
    if (found.silent)
        warn(run, "The mix is silent: its loudness is left as it is");
    applied.wholeMixGainDb = found.gain;
    return 0;
}

// Levels are told to a tenth, and judged as told.
double toTenths(double value) { return std::round(value * 10) / 10; }

// Sound with little between its average and its peaks (a steady tone, music
// already limited hard) cannot reach a target close to the ceiling.
void warnOfMissedLoudness(MixRun &run, int ending) {
    const MixSettings &applied = run.result.appliedMixSettings;
    const double reached = run.result.outputLoudness;
    if (ending != AVERROR_EOF || !applied.loudnessLufs || !std::isfinite(reached) ||
        run.result.measuredMixLoudness <= -70.0 || std::abs(reached - *applied.loudnessLufs) <= 0.5)
        return;
    const auto tenths = [](double value) { return formatMixNumber(toTenths(value)); };
    warn(run, "The mix came to " + tenths(reached) + " LUFS, not the " + tenths(*applied.loudnessLufs) +
                  " LUFS asked: the true-peak ceiling of " + formatMixNumber(applied.truePeakDb) +
                  " dBTP holds it there");
}

// The limiter leaves room for what the encoder adds to the peaks; sound it
// raises further still is told of, not hidden.
void warnOfPeaksOverCeiling(MixRun &run, int ending) {
    const double ceiling = run.result.appliedMixSettings.truePeakDb;
    const double peak = toTenths(run.result.outputTruePeak);
    if (ending == AVERROR_EOF && std::isfinite(peak) && peak > ceiling)
        warn(run, "The encoder raised the sound's peaks to " + formatMixNumber(peak) + " dBTP, over the ceiling of " +
                      formatMixNumber(ceiling) + " dBTP");
}

int writeHeader(MixRun &run) {
    AVDictionary *options = nullptr;
    // Only the MP4 family knows the flag; it writes the file once more at
    // the end, with the index moved to the front.
    const AVClass *const *muxerOptions = &run.outputContext->oformat->priv_class;
    int result = 0;
    if (run.request.fastStart && *muxerOptions &&
        av_opt_find(const_cast<AVClass **>(muxerOptions), "movflags", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
        result = av_dict_set(&options, "movflags", "+faststart", 0);
    if (result >= 0)
        result = avformat_write_header(run.outputContext.get(), &options);
    av_dict_free(&options);
    return result < 0 ? fail(run, "Could not write the output file's header", result) : 0;
}

// How a run ended.
enum class RunEnd { Finished, Stopped, Failed };

// Everything of a run, in order; the first failure ends it, with its
// reason recorded.
// What to say when the video's packets end well before the length its
// header gives: 1 s or 1 %, whichever is more, is let pass. A length guessed
// from the bit rate is no measure to hold a file to.
std::string videoCutShort(const MixRun &run) {
    const double expected = run.request.durationSeconds;
    if (!(expected > 0) || run.videoInput->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
        return {};
    if (expected - run.inputEndSeconds <= std::max(1.0, 0.01 * expected))
        return {};
    return "The video ends at " + clockText(run.inputEndSeconds) + " of " + clockText(expected) +
           " (damaged or incomplete)";
}

// measured: the settings an earlier run of the same job measured and
// planned, for encoding again; the inputs are then opened as before and
// what they hold has been told already.
RunEnd runSteps(MixRun &run, const MixSettings *measured) {
    if (allocateLoopFrames(run) < 0)
        return RunEnd::Failed;
    run.result.appliedMixSettings = measured ? *measured : run.request.mixSettings;
    const std::size_t told = run.result.warnings.size();
    int result = openMusicInput(run);
    if (result >= 0 && !measured)
        result = measureMusicLoudness(run);
    if (result >= 0)
        result = openVideoInput(run);
    if (measured) {
        run.result.warnings.resize(told);
    } else {
        if (result >= 0)
            result = fitMusic(run);
        if (result >= 0)
            result = measureWholeMix(run);
    }
    run.warningsBeforeOutput = run.result.warnings.size();
    // The sound written is measured too, as a player decodes it, to tell
    // what the target and the ceiling came to.
    LoudnessMeter made(PeakMeasure::True);
    if (run.result.appliedMixSettings.loudnessLufs) {
        run.encodedSoundMeter = &made;
        run.progressFrom = run.result.loudnessPasses * kMeasuringProgressShare;
        run.progressSpan = 100 - run.progressFrom;
    }
    if (result >= 0)
        result = openOutput(run);
    if (result >= 0)
        result = buildGraph(run);
    if (result >= 0)
        result = writeHeader(run);
    if (result == AVERROR_EXIT && run.job.stopRequested.load())
        return RunEnd::Stopped; // while measuring the music or the mix, or analysing the music
    if (result < 0)
        return RunEnd::Failed;

    anchorSoundToVideo(run);
    run.job.interruptArmed = true;
    const int ending = runMixingLoop(run);
    run.job.interruptArmed = false;
    if (run.encodedSoundMeter) {
        run.result.outputLoudness = made.integrated().value_or(run.result.outputLoudness);
        if (made.integrated())
            run.result.outputTruePeak = made.peakDb();
        warnOfMissedLoudness(run, ending);
        warnOfPeaksOverCeiling(run, ending);
    }
    // The file is finished and closed in every case the header was written,
    // but one broken off by a failed write, which takes no trailer.
    result = closeOutput(run);
    if (run.writeFailed)
        fail(run, "Could not write the output file", ending);
    else if (result < 0)
        fail(run, "Could not finish the output file", result);
    else if (ending != AVERROR_EOF && ending != AVERROR_EXIT)
        fail(run, "The mix stopped on an error", ending);
    else if (ending == AVERROR_EXIT || run.job.stopRequested.load())
        return RunEnd::Stopped;
    // A video that gave not one picture (cut short, say) made no video; nor
    // is a file without the new sound one.
    else if (packetsOf(run, run.streamMap[run.videoStreamIndex]) == 0)
        fail(run, "The video file holds no picture that could be copied", AVERROR_INVALIDDATA);
    else if (packetsOf(run, run.outputAudioStreamIndex) == 0)
        fail(run, "The video is too short to carry any sound", AVERROR_INVALIDDATA);
    else if (const std::string shortBy = videoCutShort(run); !shortBy.empty() && !run.request.allowShortVideo)
        fail(run, shortBy, AVERROR_INVALIDDATA);
    else {
        if (!shortBy.empty())
            warn(run, shortBy + "; kept as it is");
        return RunEnd::Finished;
    }
    return RunEnd::Failed;
}

// What is left of the output once it is closed: a finished or stopped run's
// file is published under its name; a failed run's file is no usable video
// and goes, as does a Matroska file without a packet, and the name claimed
// for the run is given back. Only files this run created are ever removed.
// 0, or why the file could not be published (it then stays under its
// partial name).
int settleOutputFile(const MixJob &job, const FileIdentity &written, const std::string &partial, bool failed,
                     bool unreadable) {
    const MixRequest &request = job.request;
    if (written.known() && !failed && !unreadable)
        return publishOutputFile(partial, written, request.outputPath, request.claimedOutput);
    if (written.known())
        removeIfSameFile(partial, written);
    removeIfSameEmptyFile(request.outputPath, request.claimedOutput);
    return 0;
}

// An exception ends the run as a failure with its reason.
RunEnd runStepsGuarded(MixRun &run, const MixSettings *measured) {
    try {
        return runSteps(run, measured);
    } catch (const std::bad_alloc &) {
        fail(run, "Out of memory", AVERROR(ENOMEM));
    } catch (const std::exception &error) {
        fail(run, std::string("The mix failed: ") + error.what(), AVERROR_BUG);
    }
    return RunEnd::Failed;
}

// How much further the limit goes down for another encoding, beyond what
// the last one's peaks rose over the ceiling: the encoder's noise differs
// with what it is given, and the lower limit gives it something else.
constexpr double kEncodingAgainSpareDb = 0.3;
constexpr double kMostEncoderPeakRoomDb = 3.0;
constexpr int kMostEncodings = 3;

// The encoder's noise on the limited peaks differs from one stretch of sound
// to the next (up to 2.4 dB over the limit on a recorded orchestra at 128
// kbit/s), which no fixed room under the ceiling holds for every sound. A
// file whose written peaks came out over the ceiling is therefore made again
// with the limit lowered by as much, up to twice; its measuring and planning
// stand.
std::optional<MixSettings> settingsForEncodingAgain(const MixRun &run, RunEnd ending) {
    const MixSettings &applied = run.result.appliedMixSettings;
    const double peak = toTenths(run.result.outputTruePeak);
    if (ending != RunEnd::Finished || !applied.loudnessLufs || !std::isfinite(peak) || peak <= applied.truePeakDb ||
        run.result.encodings >= kMostEncodings || applied.encoderPeakRoomDb >= kMostEncoderPeakRoomDb)
        return std::nullopt;
    MixSettings lowered = applied;
    const double over = run.result.outputTruePeak - applied.truePeakDb;
    lowered.encoderPeakRoomDb =
        std::min(kMostEncoderPeakRoomDb, applied.encoderPeakRoomDb + over + kEncodingAgainSpareDb);
    return lowered;
}

// The last file stays until the new one is finished, under its own partial
// name: an encoding again that fails or is stopped leaves the last one, with
// what was told of it, as the run's output.
RunEnd encodeAgain(MixJob &job, std::unique_ptr<MixRun> &run, const MixSettings &lowered) {
    const MixResult first = job.result;
    const FileIdentity firstWritten = run->writtenOutput;
    const std::string firstPartial = run->partialOutputPath;
    const std::shared_ptr<const PlannedMusic> planned = run->plannedMusic;
    job.result.warnings.resize(run->warningsBeforeOutput);
    ++job.result.encodings;
    run = std::make_unique<MixRun>(job);
    run->plannedMusic = planned;
    const RunEnd ending = runStepsGuarded(*run, &lowered);
    if (ending == RunEnd::Finished) {
        removeIfSameFile(firstPartial, firstWritten);
        return ending;
    }
    const std::string why = job.result.errorMessage;
    if (run->writtenOutput.known())
        removeIfSameFile(run->partialOutputPath, run->writtenOutput);
    job.result = first;
    if (ending == RunEnd::Failed)
        job.result.warnings.push_back("Encoding the sound again, to hold the ceiling, failed (" + why +
                                      "); the file encoded before is kept");
    run = std::make_unique<MixRun>(job); // the new encoding's objects go; the last file is the output
    run->writtenOutput = firstWritten;
    run->partialOutputPath = firstPartial;
    return RunEnd::Finished;
}

} // namespace

void mixWorker(MixJob &job) {
    job.result = MixResult{};
    job.status = JobStatus::Running;
    RunEnd ending = RunEnd::Failed;
    bool unreadable = false;
    FileIdentity written;
    std::string partial;
    {
        auto run = std::make_unique<MixRun>(job);
        ending = runStepsGuarded(*run, nullptr);
        while (const std::optional<MixSettings> lowered = settingsForEncodingAgain(*run, ending)) {
            const int encodings = job.result.encodings;
            ending = encodeAgain(job, run, *lowered);
            if (job.result.encodings == encodings)
                break; // stopped or failed: the file before stands
        }
        unreadable = unreadableWhenEmpty(*run);
        written = run->writtenOutput;
        partial = run->partialOutputPath;
        // The run's objects go here, the output (closed already unless the
        // run ended early) with them.
    }
    if (ending == RunEnd::Failed && job.result.errorMessage.empty())
        job.result.errorMessage = "The mix failed"; // every step names its failure; this is the net under them
    if (const int published = settleOutputFile(job, written, partial, ending == RunEnd::Failed, unreadable);
        published < 0) {
        ending = RunEnd::Failed;
        job.result.errorMessage = "Could not give the output file its name (it is kept as " + partial +
                                  "): " + ffmpegErrorText(published);
    }
    job.result.stopped = ending == RunEnd::Stopped;
    // A stopped run without an error is left Running: it is not reported as finished.
    if (ending == RunEnd::Failed)
        job.status = JobStatus::Failed;
    else if (ending == RunEnd::Finished)
        job.status = JobStatus::Finished;
}

} // namespace melvora
