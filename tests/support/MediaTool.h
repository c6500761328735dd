#pragma once

// Test helpers that make media with the ffmpeg program and judge outputs
// from outside with ffprobe/ffmpeg, so the engine is never judged by itself.

#include <string>
#include <vector>

namespace melvora::test {

struct CommandResult {
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

// Runs a shell command, capturing its output.
CommandResult runCommand(const std::string &command);

// Quotes a string for the shell.
std::string shellQuote(const std::string &text);

// A fresh temporary folder for one test binary, removed at exit.
const std::string &scratchFolder();

// A new empty folder inside the scratch folder.
std::string makeFolder(const std::string &name);

// Runs ffmpeg with the given arguments (after -y); fails the test on error.
void makeMedia(const std::string &arguments, const std::string &outputPath);

// Stream descriptions of a file, one per stream, e.g. "video h264",
// "audio aac 44100 2", "subtitle subrip".
std::vector<std::string> streamSummary(const std::string &path);

// Container duration in seconds, or a negative number when unknown.
double durationSeconds(const std::string &path);

// True when ffprobe reads the container without a single error.
bool isReadableMedia(const std::string &path);

// Number of errors ffmpeg reports while decoding the whole file.
int decodeErrors(const std::string &path);

// framemd5 of the file's video packets, copied without decoding.
std::string videoPacketChecksums(const std::string &path);

// Mean level in dB of the part of the sound around one frequency, over an
// interval; very low (-91 dB) for silence.
double toneLevelDb(const std::string &path, double startSeconds, double lengthSeconds, int frequency);

// Level in dB (amplitude 1 = 0 dB) of one frequency within a window of
// 44100 Hz samples, Hann-windowed so that a tone elsewhere does not leak in;
// NaN for a window beyond the samples, -200 for silence.
double toneDb(const std::vector<float> &samples, double startSeconds, double lengthSeconds, double frequency);

// Every packet of every stream: stream, time stamps, size, position in the
// file and a checksum of its bytes.
std::string packetLayout(const std::string &path);

// Number of packets in the file's stream of that type ("a" or "v").
int packetCount(const std::string &path, const std::string &streamType);

// One sound stream of a file as a player gives it: mono, 44100 Hz, and where
// its first sample plays, in seconds after the file's first picture (0 for
// a file without pictures).
struct DecodedSound {
    std::vector<float> samples;
    double startSeconds = 0;
};
DecodedSound decodeSound(const std::string &path, int audioStream = 0);

// Where candidate plays against reference, in samples (positive: later):
// the difference of their starts plus the lag of the best match of their
// first second, searched within maxLag samples either way.
long soundOffsetSamples(const DecodedSound &reference, const DecodedSound &candidate, int maxLag = 4096);

// The time of the end of the file's last picture, in seconds after its first.
double pictureLengthSeconds(const std::string &path);

} // namespace melvora::test
