// The segmented AAC encoder judged from its packets: decoded and compared
// with the exact source and with one encoder on the same sound.
#include "SoundCheck.h"
#include "engine/SegmentedAacEncoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace melvora;
using namespace melvora::test;

namespace {

constexpr int kTenSeconds = 431; // frames
const SegmentPlan kTestPlan{kTenSeconds, SegmentPlan::defaultPlan().prerollFrames,
                                          SegmentPlan::defaultPlan().postrollFrames};

struct Encoded {
    std::vector<PacketPtr> packets;
    std::vector<SegmentedAacEncoder::Seam> seams;
    std::int64_t peakBuffered = 0;
    int result = 0;
};

Encoded encodeSegmented(const StereoSound &sound, int threads, SegmentPlan plan,
                        SegmentedAacEncoder::EncoderFactory factory = openRunLikeAacEncoder) {
    Encoded encoded;
    SegmentedAacEncoder encoder(std::move(factory), threads, plan);
    for (std::size_t first = 0; first < sound.size() && encoded.result == 0; first += kBlock) {
        FramePtr frame;
        encoded.result = soundFrame(sound, first, frame);
        if (encoded.result == 0)
            encoded.result = encoder.submit(std::move(frame));
        encoder.takePackets(encoded.packets);
    }
    const int finished = encoder.finish();
    if (encoded.result == 0)
        encoded.result = finished;
    encoder.takePackets(encoded.packets);
    encoded.seams = encoder.seams();
    encoded.peakBuffered = encoder.peakBufferedFrames();
    return encoded;
}

// What the run did before: one encoder on the caller's thread, flushed.
std::vector<PacketPtr> encodePlainly(const StereoSound &sound) {
    std::vector<PacketPtr> packets;
    CodecContextPtr encoder;
    EXPECT_EQ(openRunLikeAacEncoder(encoder), 0);
    const auto receive = [&] {
        for (;;) {
            PacketPtr packet(av_packet_alloc());
            if (avcodec_receive_packet(encoder.get(), packet.get()) < 0)
                return;
            packets.push_back(std::move(packet));
        }
    };
    for (std::size_t first = 0; first < sound.size(); first += kBlock) {
        FramePtr frame;
        EXPECT_EQ(soundFrame(sound, first, frame), 0);
        EXPECT_EQ(avcodec_send_frame(encoder.get(), frame.get()), 0);
        receive();
    }
    EXPECT_EQ(avcodec_send_frame(encoder.get(), nullptr), 0);
    receive();
    return packets;
}

// Packets follow each other from the priming packet on, one per frame.
void expectConsecutive(const std::vector<PacketPtr> &packets) {
    for (std::size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(packets[i]->pts, (std::int64_t(i) - 1) * kBlock) << "packet " << i;
        ASSERT_EQ(packets[i]->dts, packets[i]->pts) << "packet " << i;
    }
}

int threadsOfProcess() {
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator()));
}

const StereoSound &richSound() {
    static const StereoSound sound = RichMusic().make(45.3);
    return sound;
}

} // namespace

TEST(SegmentedAacEncoder, SplicedSoundIsAsFaithfulAsOneEncoder) {
    const StereoSound &sound = richSound();
    const Encoded spliced = encodeSegmented(sound, 3, kTestPlan);
    ASSERT_EQ(spliced.result, 0);
    const std::vector<PacketPtr> single = encodePlainly(sound);
    ASSERT_EQ(spliced.packets.size(), single.size());
    expectConsecutive(spliced.packets);
    for (std::size_t i = 0; i < single.size(); ++i) // the short last frame's packets included
        ASSERT_EQ(spliced.packets[i]->duration, single[i]->duration) << i;
    EXPECT_GE(spliced.seams.size(), 3u);
    for (const auto &seam : spliced.seams)
        EXPECT_TRUE(seam.windowsAgreed) << "seam at " << seam.plannedPts;

    CodecContextPtr model;
    ASSERT_EQ(openRunLikeAacEncoder(model), 0);
    StereoSound fromSpliced, fromSingle;
    ASSERT_EQ(decodeAac(model.get(), spliced.packets, sound.size(), fromSpliced), 0);
    ASSERT_EQ(decodeAac(model.get(), single, sound.size(), fromSingle), 0);
    const SnrSummary ours = summarize(blockSnr(sound, fromSpliced));
    const SnrSummary theirs = summarize(blockSnr(sound, fromSingle));
    EXPECT_GT(theirs.mean, 10.0) << "the comparison lines the decoded sound up with its source";
    EXPECT_GE(ours.mean, theirs.mean - 0.3);
    EXPECT_GE(ours.firstPercentile, theirs.firstPercentile - 1.0);
    EXPECT_GE(ours.worst, theirs.worst - 3.0);
    const double rate = double(payloadBytes(spliced.packets)) / double(payloadBytes(single));
    EXPECT_NEAR(rate, 1.0, 0.02);
    // The sound held at once stays within what the segments in flight need,
    // however the threads were scheduled.
    EXPECT_LE(spliced.peakBuffered, kTestPlan.bufferedFramesBound(3, SegmentedAacEncoder::kFillAheadFrames));
}

// Without pre-roll and with the shortest post-roll the right encoder has no
// frame at the planned seam yet: the left one must go on into the right
// segment until both chose the same window, and the stream stays whole.
TEST(SegmentedAacEncoder, SeamWithoutAgreementWidensTheOverlap) {
    const StereoSound &sound = richSound();
    const Encoded spliced = encodeSegmented(sound, 2, SegmentPlan{200, 0, 2});
    ASSERT_EQ(spliced.result, 0);
    ASSERT_GE(spliced.seams.size(), 5u);
    int moved = 0;
    for (const auto &seam : spliced.seams) {
        EXPECT_TRUE(seam.windowsAgreed) << "seam at " << seam.plannedPts;
        moved += seam.lastLeftPts >= seam.plannedPts ? 1 : 0;
    }
    EXPECT_EQ(moved, int(spliced.seams.size()));
    expectConsecutive(spliced.packets);
    EXPECT_EQ(spliced.packets.size(), encodePlainly(sound).size());
    CodecContextPtr model;
    ASSERT_EQ(openRunLikeAacEncoder(model), 0);
    StereoSound decoded;
    ASSERT_EQ(decodeAac(model.get(), spliced.packets, sound.size(), decoded), 0);
    EXPECT_EQ(decoded.size(), sound.size());
}

// One thread, or a stream too short for two segments, is one encoder that
// sees every frame and is flushed: its packets are a plain encoder's.
TEST(SegmentedAacEncoder, OneEncoderPathsGiveAPlainEncodersPackets) {
    struct Row {
        int threads;
        double seconds;
    };
    for (const Row row : {Row{1, 45.3}, Row{4, 19.0}, Row{2, 0.01}, Row{3, 0.0}}) {
        SCOPED_TRACE(testing::Message() << row.threads << " threads, " << row.seconds << " s");
        const StereoSound sound = RichMusic(3).make(row.seconds);
        const Encoded ours = encodeSegmented(sound, row.threads, kTestPlan);
        ASSERT_EQ(ours.result, 0);
        EXPECT_TRUE(ours.seams.empty());
        const std::vector<PacketPtr> plain = encodePlainly(sound);
        ASSERT_EQ(ours.packets.size(), plain.size());
        for (std::size_t i = 0; i < plain.size(); ++i) {
            const AVPacket &a = *ours.packets[i], &b = *plain[i];
            ASSERT_EQ(a.pts, b.pts) << i;
            ASSERT_EQ(a.dts, b.dts) << i;
            ASSERT_EQ(a.duration, b.duration) << i;
            ASSERT_EQ(a.flags, b.flags) << i;
            ASSERT_EQ(std::vector<std::uint8_t>(a.data, a.data + a.size), std::vector<std::uint8_t>(b.data, b.data + b.size)) << i;
        }
    }
}

// A stop at any moment, even while the mixer waits in submit on another
// thread: every encoder thread ends, and what was spliced decodes on its own.
TEST(SegmentedAacEncoder, CancelEndsEveryThreadAndLeavesADecodablePrefix) {
    const StereoSound &sound = richSound();
    for (const int framesBeforeStop : {0, 150, 900, 1800}) {
        SCOPED_TRACE(testing::Message() << "stop after " << framesBeforeStop << " frames");
        // Threads of earlier tests may still be ending: at most as many after.
        const int threadsBefore = threadsOfProcess();
        std::vector<PacketPtr> packets;
        {
            SegmentedAacEncoder encoder(openRunLikeAacEncoder, 2, SegmentPlan{200, 64, 8});
            std::atomic<int> submitted{0};
            std::thread mixer([&] {
                for (std::size_t first = 0; first < sound.size(); first += kBlock) {
                    FramePtr frame;
                    if (soundFrame(sound, first, frame) < 0 || encoder.submit(std::move(frame)) < 0)
                        return;
                    ++submitted;
                }
            });
            while (submitted < framesBeforeStop)
                std::this_thread::yield();
            encoder.cancel();
            EXPECT_LE(threadsOfProcess(), threadsBefore + 1) << "at most the mixer thread is left";
            mixer.join(); // submit returns promptly once stopped
            encoder.takePackets(packets);
            EXPECT_EQ(encoder.error(), 0);
        }
        EXPECT_LE(threadsOfProcess(), threadsBefore);
        expectConsecutive(packets);
        CodecContextPtr model;
        ASSERT_EQ(openRunLikeAacEncoder(model), 0);
        StereoSound decoded;
        EXPECT_EQ(decodeAac(model.get(), packets, sound.size(), decoded), 0);
        EXPECT_EQ(decoded.size(), std::min(sound.size(), packets.empty() ? 0 : (packets.size() - 1) * kBlock));
    }
}

// One encoder is opened per thread: later segments go on with the encoder
// of the segment one round before. One that cannot be opened fails the whole
// stream with its own error, and nothing waits for ever.
TEST(SegmentedAacEncoder, OpensAnEncoderPerThreadAndReportsAFailedOne) {
    struct Row {
        int failingCall; // 0: none fails
        int error;
    };
    for (const Row row : {Row{0, 0}, Row{1, AVERROR(ENOMEM)}, Row{2, AVERROR_INVALIDDATA}}) {
        SCOPED_TRACE(testing::Message() << "call " << row.failingCall << " fails");
        std::atomic<int> calls{0};
        const auto factory = [&](CodecContextPtr &encoder) {
            return ++calls == row.failingCall ? row.error : openRunLikeAacEncoder(encoder);
        };
        const Encoded encoded = encodeSegmented(richSound(), 2, SegmentPlan{200, 64, 8}, factory);
        EXPECT_EQ(encoded.result, row.error);
        if (row.failingCall == 0) {
            EXPECT_GE(encoded.seams.size(), 3u);
            EXPECT_EQ(calls.load(), 2);
            // Which encoder goes on with which segment does not depend on
            // which thread was free: a second run gives the same bytes.
            const Encoded again = encodeSegmented(richSound(), 2, SegmentPlan{200, 64, 8});
            ASSERT_EQ(again.packets.size(), encoded.packets.size());
            for (std::size_t i = 0; i < again.packets.size(); ++i) {
                const AVPacket &a = *again.packets[i], &b = *encoded.packets[i];
                ASSERT_TRUE(a.size == b.size && std::equal(a.data, a.data + a.size, b.data)) << "packet " << i;
            }
        }
    }
}

// Segments come in whole rounds of the threads, near the default length;
// one thread, or a stream too short for two segments, keeps the default.
TEST(SegmentedAacEncoder, BalancedPlanFillsTheLastRound) {
    const int nominal = SegmentPlan::defaultPlan().segmentFrames;
    const struct Row {
        std::int64_t frames;
        int threads;
        std::int64_t segments; // 0: the default plan
    } rows[] = {
        {30 * std::int64_t(nominal), 2, 30}, {3 * std::int64_t(nominal), 2, 4}, {5 * std::int64_t(nominal), 2, 6},
        {2 * std::int64_t(nominal) + 100, 2, 2}, {2 * std::int64_t(nominal), 8, 8}, {7 * std::int64_t(nominal), 4, 8},
        {3 * std::int64_t(nominal), 1, 0},      {nominal, 2, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.frames << " frames, " << row.threads << " threads");
        const SegmentPlan plan = SegmentPlan::balanced(row.frames, row.threads);
        EXPECT_EQ(plan.prerollFrames, SegmentPlan::defaultPlan().prerollFrames);
        if (row.segments == 0) {
            EXPECT_EQ(plan.segmentFrames, nominal);
            continue;
        }
        // Every frame lies in one of the segments, the last one not empty.
        EXPECT_GE(plan.segmentFrames * row.segments, row.frames);
        EXPECT_LT(plan.segmentFrames * (row.segments - 1), row.frames);
    }
}

// The window reader against the encoder's own frames: the window sequences
// it reads follow the only order AAC allows, and percussion brings short
// windows. Then hand-made frames for the fill element and the odd cases.
TEST(SegmentedAacEncoder, ReadsTheWindowOfRawFrames) {
    const StereoSound sound = RichMusic(5).make(8.0);
    const std::vector<PacketPtr> packets = encodePlainly(sound);
    int shortWindows = 0, previous = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const AacFrameWindow window = readAacFrameWindow(packets[i]->data, packets[i]->size);
        ASSERT_TRUE(window.known) << i;
        const int sequence = window.windowSequence;
        const bool allowed = (previous == 0 || previous == 3) ? (sequence == 0 || sequence == 1)
                                                              : (sequence == 2 || sequence == 3);
        EXPECT_TRUE(allowed) << "frame " << i << ": " << previous << " then " << sequence;
        shortWindows += sequence == 2 ? 1 : 0;
        previous = sequence;
    }
    EXPECT_GT(shortWindows, 10);

    // Frames written bit by bit (spaces only for reading), padded with zeros.
    const auto bits = [](const std::string &text) {
        std::vector<std::uint8_t> bytes;
        int count = 0;
        for (const char c : text) {
            if (c == ' ')
                continue;
            if (count % 8 == 0)
                bytes.push_back(0);
            bytes.back() |= std::uint8_t((c == '1' ? 1 : 0) << (7 - count % 8));
            ++count;
        }
        return bytes;
    };
    struct Row {
        std::string frame; // element id, its fields, then ics_info: reserved, sequence, shape
        bool known, shared;
        int sequence, shape;
    };
    const Row rows[] = {
        {"001 0000 1  0 10 1", true, true, 2, 1},                                    // pair, common window
        {"110 0010 10101010 10111011  001 0000 1  0 01 0", true, true, 1, 0},        // a fill element first
        {"110 1111 00000001 " + std::string(15 * 8, '0') + " 001 0000 1  0 11 0", true, true, 3, 0}, // escaped count
        {"001 0000 0 11111111  0 10 1", true, false, 2, 1},                          // no common window: first channel
        {"000 0000 01111111  0 01 1", true, true, 1, 1},                             // single channel
        {"001 0000 1", false, false, 0, 0},                                          // cut short
        {"", false, false, 0, 0},
        {"111", false, false, 0, 0},                                                 // end element, no channel
        {"110 0101 11111111", false, false, 0, 0},                                   // fill longer than the frame
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.frame);
        const std::vector<std::uint8_t> bytes = bits(row.frame);
        const AacFrameWindow window = readAacFrameWindow(bytes.data(), int(bytes.size()));
        EXPECT_EQ(window.known, row.known);
        EXPECT_EQ(window.sharedByPair, row.shared);
        if (row.known) {
            EXPECT_EQ(window.windowSequence, row.sequence);
            EXPECT_EQ(window.windowShape, row.shape);
        }
    }
}
