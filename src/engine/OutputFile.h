#pragma once

// The output file's I/O, written through a descriptor of our own rather than
// FFmpeg's file protocol, which would follow a link planted at the output's
// name and truncate whatever it points to.

#include "engine/EngineInternal.h"
#include "engine/OutputClaim.h"

#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

namespace melvora {

// Opens path for writing, creating it when missing and emptying it when it
// is there, but never through a link at its last component, never anything
// but a regular file, and, when claimed is known, only that very file. On
// success *io is a seekable I/O context for an output context flagged
// AVFMT_FLAG_CUSTOM_IO and opened tells which file it writes; a negative
// FFmpeg error otherwise.
int openOutputFile(const std::string &path, const FileIdentity &claimed, AVIOContext **io, FileIdentity &opened);

// Flushes and closes what openOutputFile opened; *io becomes null. The
// first error of a write, the flush or the close (a quota or network file
// system may report a write only there), or 0.
int closeOutputFile(AVIOContext **io);

// Lets the output's muxer read back the file it writes (an MP4 moving its
// index to the front), through the same descriptor: every other open of
// the output context is refused, so that no muxer reaches another file.
void allowReadBackOnly(AVFormatContext *output);

} // namespace melvora
