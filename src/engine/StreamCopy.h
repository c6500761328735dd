#pragma once

// What a stream copied from the video keeps, and what of the video's
// container goes with it. Engine-internal: this header brings in FFmpeg.

#include "engine/LoopHelpers.h"

#include <functional>

namespace melvora {

// Copies everything of the input stream the output container can take: the
// codec parameters with the input's codec tag (where the container's table
// does not tie that tag to another codec), the time base, dispositions,
// metadata, side data (display matrix, HDR metadata, stereo 3D...), the
// pixel aspect and frame rates. A picture attached to a Matroska file stays
// an attached file.
int copyStreamProperties(AVStream *output, const AVStream *input, const AVOutputFormat *format);

// Whether the input stream is copied into a Matroska output as an attached
// file rather than as a stream with packets.
bool becomesAttachment(const AVOutputFormat *format, const AVStream *input);

// The new sound takes the place of a track of the video: its language,
// title, handler name and dispositions.
int copyTrackIdentity(AVStream *output, const AVStream *replaced);

// Whether the muxer writes a header for the streams addStreams adds to a
// trial context (false when that fails): into memory, thrown away.
bool headerAccepts(const AVOutputFormat *format, const std::function<bool(AVFormatContext *trial)> &addStreams);

// Whether the output container takes a copy of the input stream, beside
// the picture stream (which a track like a timecode belongs to): a header
// with both is written into memory and thrown away.
bool containerHolds(const AVFormatContext *output, const AVStream *input, const AVStream *picture);

// Whether the output container has a place for chapters.
bool containerHoldsChapters(const AVOutputFormat *format);

// The video file's global metadata (title, artist, creation time...) and,
// where the container holds them, its chapters.
int copyContainerProperties(AVFormatContext *output, const AVFormatContext *input);

} // namespace melvora
