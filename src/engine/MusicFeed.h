#pragma once

// The music as an endless (or, without looping, silence-padded) stream of
// 44100 Hz planar float stereo samples. It reads, decodes and resamples the
// opened music input, starts each pass at the music-start point, and joins
// consecutive passes either directly or with an equal-power crossfade.
//
// Every pass plays exactly the samples the file holds: from the stream's
// first packet (the seek back goes there, so that priming packets before
// zero come again) and cut by time stamp to the stream's span, so that the
// priming a decoder gives after a seek and the padding of the last packet
// never reach the output. With the default settings each decoded frame is
// resampled as it comes, with the resampler running on across the seam.

#include "engine/FFmpegHandles.h"
#include "engine/MixSettings.h"
#include "engine/MusicFit.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace melvora {

// The song decoded whole, and the order to play it in (a fitted length or a
// loop at the song's own seam), with the stretches a fit plays time-stretched.
struct PlannedMusic {
    std::vector<float> left;
    std::vector<float> right;
    SpanSequence sequence;
    std::vector<ReplacedStretch> stretched;
};

class MusicFeed {
public:
    // The input, stream and decoder stay owned by the caller and must outlive
    // the feed. stopFlag, when given, is looked at before every packet read.
    MusicFeed(AVFormatContext *input, int streamIndex, AVCodecContext *decoder, const MixSettings &settings,
              const std::atomic<std::uint8_t> *stopFlag = nullptr);
    MusicFeed(const MusicFeed &) = delete;
    MusicFeed &operator=(const MusicFeed &) = delete;

    // Appends samples to into (planar float, two channels) until it holds at
    // least minSamples. Returns 0 or an FFmpeg error: a read error of the
    // music, AVERROR_INVALIDDATA when a whole pass gave no sound, and
    // AVERROR_EXIT only when the stop flag was seen.
    int read(AVAudioFifo *into, int minSamples);

    // Decodes one pass (from the music-start point to the end) into the two
    // planes, at most mostSamples of it; AVERROR(E2BIG) past that. The feed
    // must be one without loop and crossfade, and is spent afterwards.
    int readPass(std::vector<float> &left, std::vector<float> &right, std::int64_t mostSamples);

    // From now on the feed plays this plan from memory instead of decoding,
    // then silence once a plan without repeat is over.
    void playPlanned(std::shared_ptr<const PlannedMusic> planned);

    // From now on the stop flag is not looked at (the run makes up the
    // sound it owes after a stop).
    void ignoreStop() { m_stopFlag = nullptr; }

    // Samples of the music's first pass as the crossfade sees them, once the
    // first pass has ended; 0 before. For tests and diagnostics.
    std::int64_t crossfadeSamples() const { return m_crossfadeLength < 0 ? 0 : m_crossfadeLength; }

private:
    static constexpr int kPassEnded = 1;

    bool runsPlainLoop() const;
    int nextFrame(AVFrame *frame);
    int nextFramePlainLoop(AVFrame *frame);
    int seekToPassStart();
    void noteFirstPacket(const AVPacket *packet);
    // Samples of the frame before and after the stream's span.
    void spanCut(const AVFrame *frame, int &before, int &after) const;
    int ensureResampler(const AVFrame *frame);
    int convertFrame(const AVFrame *frame, AVAudioFifo *into);
    int flushResampler(AVAudioFifo *into);
    int endPass(AVAudioFifo *into);
    int emit(const float *left, const float *right, int count, AVAudioFifo *into);
    int releaseHeld(int count, AVAudioFifo *into);
    int writeSilence(int count, AVAudioFifo *into);

    int readPlanned(AVAudioFifo *into, int minSamples);

    AVFormatContext *m_input;
    int m_streamIndex;
    AVCodecContext *m_decoder;
    MixSettings m_settings;
    const std::atomic<std::uint8_t> *m_stopFlag;

    ResamplerPtr m_resampler;
    FramePtr m_frame;
    FramePtr m_converted;
    PacketPtr m_packet;

    // The stream's span in its time base: its start, and its end where the
    // container knows it exactly; and the stamp of its first packet.
    std::optional<std::int64_t> m_spanStart;
    std::optional<std::int64_t> m_spanEnd;
    std::optional<std::int64_t> m_firstPacketStamp;
    bool m_seekedOnce = false;

    bool m_started = false;
    bool m_draining = false; // the decoder was told the pass's packets have ended
    bool m_finished = false; // no loop and the pass is over: silence from here on
    bool m_soundSincePassStart = false;
    bool m_trimPending = false;     // frames before the music-start point are still to be cut
    std::int64_t m_passSamples = 0; // samples this pass has given so far

    // Crossfade: the last samples of a pass wait in m_held until it is known
    // whether the pass ends there; at the end they become the tail that the
    // next pass's start is blended with.
    std::int64_t m_crossfadeTarget = 0;
    std::int64_t m_crossfadeLength = -1; // fixed at the end of the first pass
    AudioFifoPtr m_held;
    std::vector<float> m_tail[2];
    std::size_t m_tailPosition = 0;
    std::vector<float> m_scratch[2];

    bool m_padWithSilence = true; // false while a whole pass is read into memory
    std::shared_ptr<const PlannedMusic> m_planned;
    std::optional<SpanPlayer> m_player;
};

} // namespace melvora
