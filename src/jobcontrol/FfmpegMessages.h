#pragma once

namespace melvora {

// FFmpeg's own messages (stream dumps, warnings) go to stderr only when asked
// for: -v on either program, or MELVORA_VERBOSE=1 in the environment. Our own
// messages say what failed without them.
bool ffmpegMessagesWanted(bool verboseOption);
void showFfmpegMessages(bool show);

} // namespace melvora
