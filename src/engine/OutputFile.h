#pragma once

// The output file's I/O, written through a descriptor of our own rather than
// FFmpeg's file protocol, which would follow a link planted at the output's
// name and truncate whatever it points to.

#include <string>

extern "C" {
#include <libavformat/avio.h>
}

namespace melvora {

// Opens path for writing, creating it when missing and emptying it when it
// is there, but never through a link at its last component and never
// anything but a regular file. On success *io is a seekable I/O context for
// an output context flagged AVFMT_FLAG_CUSTOM_IO; a negative FFmpeg error
// otherwise.
int openOutputFile(const std::string &path, AVIOContext **io);

// Flushes and closes what openOutputFile opened; *io becomes null.
void closeOutputFile(AVIOContext **io);

} // namespace melvora
