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

// The output is written under a partial name beside path (".NAME.part",
// hidden, on the same file system) and only published under path once the
// run is over, so that a killed run never leaves a broken file under the
// name a finished one would have.
//
// Creates the partial file for the output at path, which must be the empty
// file claimed for the run when claimed is known, else missing or a regular
// file; never through a link. On success *io is a seekable I/O context for
// an output context flagged AVFMT_FLAG_CUSTOM_IO, opened tells which file it
// writes and partialPath its name; a negative FFmpeg error otherwise.
int openOutputFile(const std::string &path, const FileIdentity &claimed, AVIOContext **io, FileIdentity &opened,
                   std::string &partialPath);

// Puts the written partial file under path in one rename: over the empty
// placeholder claimed for the run (when claimed is known and path is still
// that file), or over what openOutputFile accepted there. 0 or a negative
// FFmpeg error; the partial file then stays where it is.
int publishOutputFile(const std::string &partialPath, const FileIdentity &written, const std::string &path,
                      const FileIdentity &claimed);

// Flushes and closes what openOutputFile opened; *io becomes null. The
// first error of a write, the flush or the close (a quota or network file
// system may report a write only there), or 0.
int closeOutputFile(AVIOContext **io);

// Lets the output's muxer read back the file it writes (an MP4 moving its
// index to the front), through the same descriptor: every other open of
// the output context is refused, so that no muxer reaches another file.
void allowReadBackOnly(AVFormatContext *output);

} // namespace melvora
