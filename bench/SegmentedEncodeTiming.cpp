// Benchmarks the segmented AAC encoder on its own, outside the mixing loop.
//
//   melvora-segmented-encode timing SECONDS THREADS [SEGMENT_S [PREROLL]]
//       encodes SECONDS of rich mixed sound made in the process and prints
//       "seconds peak_kb": run it once per thread count, in fresh processes,
//       so that each peak is its own
//   melvora-segmented-encode fidelity SOURCE [THREADS [SEGMENT_S [PREROLL [POSTROLL]]]]
//       encodes SOURCE (a sound file, or synthetic:SECONDS) with one encoder
//       and segmented, decodes both and compares them block by block with the
//       exact source: SNR summary, bit rates and a table of the seams
//   melvora-segmented-encode sweep SOURCE
//       the fidelity summary for several segment lengths and pre-rolls
//   melvora-segmented-encode write-music SECONDS
//       writes the rich test music to stdout as 44100 Hz stereo f32le
//   melvora-segmented-encode files SOURCE ONE_ENCODER SEGMENTED
//       compares two finished outputs (any files FFmpeg reads) with the
//       exact source: the fidelity summary without encoding anything
#include "SoundCheck.h"
#include "engine/SegmentedAacEncoder.h"

extern "C" {
#include <libswresample/swresample.h>
}

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

using namespace melvora;
using namespace melvora::test;

namespace {

void check(int result, const char *what) {
    if (result < 0) {
        std::fprintf(stderr, "%s: %s\n", what, ffmpegErrorText(result).c_str());
        std::exit(1);
    }
}

// Any sound file as planar float stereo at 44100 Hz.
StereoSound readSound(const std::string &path) {
    if (path.rfind("synthetic:", 0) == 0)
        return RichMusic().make(std::atof(path.c_str() + 10));
    AVFormatContext *raw = nullptr;
    check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open");
    InputContextPtr input(raw);
    check(avformat_find_stream_info(input.get(), nullptr), "stream info");
    const AVCodec *codec = nullptr;
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    check(stream, "sound stream");
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    check(avcodec_parameters_to_context(decoder.get(), input->streams[stream]->codecpar), "parameters");
    check(avcodec_open2(decoder.get(), codec, nullptr), "decoder");
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext *swr = nullptr;
    check(swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLTP, kSoundRate, &decoder->ch_layout,
                              decoder->sample_fmt, decoder->sample_rate, 0, nullptr),
          "resampler");
    ResamplerPtr resampler(swr);
    check(swr_init(resampler.get()), "resampler");
    StereoSound sound;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    std::vector<float> left(1 << 16), right(1 << 16);
    const auto convert = [&](const AVFrame *in) {
        std::uint8_t *out[2] = {reinterpret_cast<std::uint8_t *>(left.data()), reinterpret_cast<std::uint8_t *>(right.data())};
        const int got = swr_convert(resampler.get(), out, int(left.size()), in ? const_cast<const std::uint8_t **>(in->extended_data) : nullptr,
                                    in ? in->nb_samples : 0);
        check(got, "resample");
        sound.left.insert(sound.left.end(), left.begin(), left.begin() + got);
        sound.right.insert(sound.right.end(), right.begin(), right.begin() + got);
    };
    bool ended = false;
    while (!ended) {
        int result = av_read_frame(input.get(), packet.get());
        if (result == AVERROR_EOF)
            ended = true;
        else
            check(result, "read");
        if (!ended && packet->stream_index != stream) {
            av_packet_unref(packet.get());
            continue;
        }
        check(avcodec_send_packet(decoder.get(), ended ? nullptr : packet.get()), "decode");
        av_packet_unref(packet.get());
        while ((result = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
            convert(frame.get());
            av_frame_unref(frame.get());
        }
    }
    convert(nullptr);
    return sound;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Encoded {
    std::vector<PacketPtr> packets;
    std::vector<SegmentedAacEncoder::Seam> seams;
    double seconds = 0;
};

Encoded encode(const StereoSound &sound, int threads, SegmentedAacEncoder::Plan plan) {
    Encoded encoded;
    const double start = now();
    SegmentedAacEncoder encoder(openRunLikeAacEncoder, threads, plan);
    for (std::size_t first = 0; first < sound.size(); first += kBlock) {
        FramePtr frame;
        check(soundFrame(sound, first, frame), "frame");
        check(encoder.submit(std::move(frame)), "submit");
        encoder.takePackets(encoded.packets);
    }
    check(encoder.finish(), "finish");
    encoder.takePackets(encoded.packets);
    encoded.seconds = now() - start;
    encoded.seams = encoder.seams();
    return encoded;
}

int timing(double seconds, int threads, SegmentedAacEncoder::Plan plan) {
    // 30 s of the music mixed with a second voice, as when the video's own
    // sound is mixed with music, made beforehand and played in a loop, so
    // that making the frames costs next to nothing beside encoding them.
    StereoSound loop = RichMusic().make(30.0);
    {
        const StereoSound voice = RichMusic(7).make(30.0);
        for (std::size_t i = 0; i < loop.size(); ++i) {
            loop.left[i] = 0.5f * (loop.left[i] + voice.right[i]);
            loop.right[i] = 0.5f * (loop.right[i] + voice.left[i]);
        }
    }
    const auto total = std::int64_t(seconds * kSoundRate);
    const double start = now();
    SegmentedAacEncoder encoder(openRunLikeAacEncoder, threads, plan);
    std::vector<PacketPtr> packets;
    std::int64_t bytes = 0, count = 0, gaps = 0;
    // Every packet follows the one before: a gap would be lost sound.
    const auto account = [&](std::vector<PacketPtr> &taken) {
        for (const PacketPtr &packet : taken) {
            gaps += packet->pts != (count - 1) * kBlock ? 1 : 0;
            ++count;
            bytes += packet->size;
        }
        taken.clear();
    };
    for (std::int64_t first = 0; first < total; first += kBlock) {
        FramePtr frame(av_frame_alloc());
        if (!frame)
            check(AVERROR(ENOMEM), "frame");
        frame->nb_samples = int(std::min<std::int64_t>(kBlock, total - first));
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = kSoundRate;
        av_channel_layout_default(&frame->ch_layout, 2);
        frame->pts = first;
        check(av_frame_get_buffer(frame.get(), 0), "frame");
        auto *l = reinterpret_cast<float *>(frame->data[0]);
        auto *r = reinterpret_cast<float *>(frame->data[1]);
        for (int i = 0; i < frame->nb_samples; ++i) {
            const auto at = std::size_t(first + i) % loop.size();
            l[i] = loop.left[at];
            r[i] = loop.right[at];
        }
    check(encoder.submit(std::move(frame)), "submit");
        encoder.takePackets(packets);
        account(packets);
    }
    check(encoder.finish(), "finish");
    encoder.takePackets(packets);
    account(packets);
    const double elapsed = now() - start;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.2f %ld\n", elapsed, usage.ru_maxrss);
    std::fprintf(stderr,
                 "%d threads: %.2f s, %ld KB peak, %.1f kbit/s, %lld packets, %lld out of place, "
                 "at most %lld frames of sound held\n",
                 encoder.threadCount(), elapsed, usage.ru_maxrss, bytes * 8.0 / seconds / 1000, (long long)count,
                 (long long)gaps, (long long)encoder.peakBufferedFrames());
    if (gaps > 0)
        return 1;
    return 0;
}

struct Fidelity {
    SnrSummary single, segmented;
    double singleKbps = 0, segmentedKbps = 0;
    double speedup = 0;
};

Fidelity compare(const StereoSound &sound, const std::vector<double> &singleSnr, const Encoded &single,
                 const Encoded &segmented, CodecContextPtr &model, bool table) {
    StereoSound decoded;
    check(decodeAac(model.get(), segmented.packets, sound.size(), decoded), "decode segmented");
    std::vector<std::size_t> blocks;
    const std::vector<double> snr = blockSnr(sound, decoded, &blocks);
    Fidelity fidelity;
    fidelity.single = summarize(singleSnr);
    fidelity.segmented = summarize(snr);
    const double seconds = double(sound.size()) / kSoundRate;
    fidelity.singleKbps = payloadBytes(single.packets) * 8 / seconds / 1000;
    fidelity.segmentedKbps = payloadBytes(segmented.packets) * 8 / seconds / 1000;
    fidelity.speedup = single.seconds / segmented.seconds;
    if (table) {
        // Bits of each stretch between seams against one encoder's bits for
        // the same frames: where a difference in bit rate comes from.
        std::printf("  stretch from   bits against one encoder\n");
        std::size_t from = 0;
        for (std::size_t seam = 0; seam <= segmented.seams.size(); ++seam) {
            const std::size_t to = seam < segmented.seams.size()
                                       ? std::size_t(segmented.seams[seam].lastLeftPts / kBlock + 2)
                                       : segmented.packets.size();
            std::int64_t ours = 0, theirs = 0;
            for (std::size_t i = from; i < to && i < single.packets.size(); ++i) {
                ours += segmented.packets[i]->size;
                theirs += single.packets[i]->size;
            }
            std::printf("  %8.2f s     %+.2f %%\n", double(from) * kBlock / kSoundRate, (double(ours) / double(theirs) - 1) * 100);
            from = to;
        }
        std::printf("  seam at     moved  windows  | SNR dB: 2 blocks at seam  10 blocks around  | one encoder: at seam\n");
        for (const auto &seam : segmented.seams) {
            const std::int64_t block = seam.lastLeftPts / kBlock;
            double at = 0, around = 0, atSingle = 0;
            int nAt = 0, nAround = 0;
            for (std::size_t i = 0; i < blocks.size(); ++i) {
                const auto distance = std::int64_t(blocks[i]) - block;
                if (distance == 0 || distance == 1) {
                    at += snr[i];
                    atSingle += singleSnr[i];
                    ++nAt;
                } else if (distance >= -5 && distance <= 6) {
                    around += snr[i];
                    ++nAround;
                }
            }
            std::printf("  %8.2f s  %+4lld   %-7s  |     %7.2f                %7.2f          |   %7.2f\n",
                        double(seam.plannedPts) / kSoundRate, (long long)((seam.lastLeftPts - seam.plannedPts) / kBlock + 1),
                        seam.windowsAgreed ? "agree" : "FORCED", nAt ? at / nAt : NAN,
                        nAround ? around / nAround : NAN, nAt ? atSingle / nAt : NAN);
        }
    }
    return fidelity;
}

void printSummary(const char *label, const Fidelity &f) {
    std::printf("%-22s mean %+.2f dB  p1 %+.2f dB  worst %+.2f dB  (one encoder: %.2f / %.2f / %.2f)  "
                "bit rate %.1f vs %.1f kbit/s (%+.2f %%)  speed-up %.2f\n",
                label, f.segmented.mean - f.single.mean, f.segmented.firstPercentile - f.single.firstPercentile,
                f.segmented.worst - f.single.worst, f.single.mean, f.single.firstPercentile, f.single.worst,
                f.segmentedKbps, f.singleKbps, (f.segmentedKbps / f.singleKbps - 1) * 100, f.speedup);
}

} // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "timing" && argc >= 4) {
        SegmentedAacEncoder::Plan plan = SegmentPlan::defaultPlan();
        if (argc > 4)
            plan.segmentFrames = int(std::lround(std::atof(argv[4]) * kSoundRate / kBlock));
        if (argc > 5)
            plan.prerollFrames = std::atoi(argv[5]);
        return timing(std::atof(argv[2]), std::atoi(argv[3]), plan);
    }
    if (mode == "write-music" && argc >= 3) {
        RichMusic music;
        const auto total = std::int64_t(std::atof(argv[2]) * kSoundRate);
        std::vector<float> left(kBlock), right(kBlock), interleaved(2 * kBlock);
        for (std::int64_t first = 0; first < total; first += kBlock) {
            const int count = int(std::min<std::int64_t>(kBlock, total - first));
            music.fill(left.data(), right.data(), count);
            for (int i = 0; i < count; ++i) {
                interleaved[2 * i] = left[i];
                interleaved[2 * i + 1] = right[i];
            }
            std::fwrite(interleaved.data(), sizeof(float), std::size_t(2 * count), stdout);
        }
        return 0;
    }
    if (mode == "files" && argc >= 5) {
        const StereoSound source = readSound(argv[2]);
        const StereoSound one = readSound(argv[3]);
        const StereoSound segmented = readSound(argv[4]);
        const SnrSummary a = summarize(blockSnr(source, one));
        const SnrSummary b = summarize(blockSnr(source, segmented));
        std::printf("%-22s mean %+.2f dB  p1 %+.2f dB  worst %+.2f dB  (one encoder: %.2f / %.2f / %.2f)\n",
                    "output files", b.mean - a.mean, b.firstPercentile - a.firstPercentile, b.worst - a.worst, a.mean,
                    a.firstPercentile, a.worst);
        return 0;
    }
    if ((mode == "fidelity" || mode == "sweep") && argc >= 3) {
        const StereoSound sound = readSound(argv[2]);
        CodecContextPtr model;
        check(openRunLikeAacEncoder(model), "encoder");
        const Encoded single = encode(sound, 1, SegmentPlan::defaultPlan());
        StereoSound decoded;
        check(decodeAac(model.get(), single.packets, sound.size(), decoded), "decode");
        const std::vector<double> singleSnr = blockSnr(sound, decoded);
        std::printf("%s: %.1f s of sound, %zu blocks compared\n", argv[2], double(sound.size()) / kSoundRate,
                    singleSnr.size());
        if (mode == "fidelity") {
            SegmentedAacEncoder::Plan plan = SegmentPlan::defaultPlan();
            const int threads = argc > 3 ? std::atoi(argv[3]) : 2;
            if (argc > 4)
                plan.segmentFrames = int(std::lround(std::atof(argv[4]) * kSoundRate / kBlock));
            if (argc > 5)
                plan.prerollFrames = std::atoi(argv[5]);
            if (argc > 6)
                plan.postrollFrames = std::atoi(argv[6]);
            const Encoded segmented = encode(sound, threads, plan);
            const Fidelity f = compare(sound, singleSnr, single, segmented, model, true);
            char label[64];
            std::snprintf(label, sizeof label, "segments %.0f s pre %d", plan.segmentFrames * double(kBlock) / kSoundRate,
                          plan.prerollFrames);
            printSummary(label, f);
            return 0;
        }
        for (double segmentSeconds : {10.0, 20.0, 30.0})
            for (int preroll : {8, 32, 64, 128, 256}) {
                SegmentedAacEncoder::Plan plan{int(std::lround(segmentSeconds * kSoundRate / kBlock)), preroll,
                                               SegmentPlan::defaultPlan().postrollFrames};
                const Encoded segmented = encode(sound, 2, plan);
                const Fidelity f = compare(sound, singleSnr, single, segmented, model, false);
                int forced = 0;
                for (const auto &seam : segmented.seams)
                    forced += seam.windowsAgreed ? 0 : 1;
                char label[64];
                std::snprintf(label, sizeof label, "seg %2.0f s pre %3d", segmentSeconds, preroll);
                printSummary(label, f);
                std::printf("%22s %zu seams, %d forced, extra work %.0f %%\n", "", segmented.seams.size(), forced,
                            100.0 * (preroll + 16) / plan.segmentFrames);
            }
        return 0;
    }
    std::fprintf(stderr,
                 "usage: %s timing SECONDS THREADS [SEGMENT_S [PREROLL]] | fidelity SOURCE [THREADS [SEGMENT_S [PREROLL [POSTROLL]]]] | "
                 "sweep SOURCE | write-music SECONDS | files SOURCE ONE_ENCODER SEGMENTED\n",
                 argv[0]);
    return 2;
}
