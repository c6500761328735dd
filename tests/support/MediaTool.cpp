#include "MediaTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <numbers>
#include <limits>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace melvora::test {

CommandResult runCommand(const std::string &command) {
    CommandResult result;
    const std::string full = command + " 2>&1";
    std::FILE *pipe = ::popen(full.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer{};
    size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), count);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string shellQuote(const std::string &text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

namespace {

struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "melvora-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path.empty() && !std::getenv("MELVORA_KEEP_TEST_FILES"))
            std::filesystem::remove_all(path, ec);
    }
};

} // namespace

const std::string &scratchFolder() {
    static ScratchFolder folder;
    return folder.path;
}

std::string makeFolder(const std::string &name) {
    const std::string path = scratchFolder() + "/" + name;
    std::filesystem::create_directories(path);
    return path;
}

void makeMedia(const std::string &arguments, const std::string &outputPath) {
    const CommandResult result =
        runCommand("ffmpeg -hide_banner -loglevel error -nostdin -y " + arguments + " " + shellQuote(outputPath));
    ASSERT_EQ(result.exitCode, 0) << "ffmpeg failed for " << outputPath << ": " << result.output;
}

std::vector<std::string> streamSummary(const std::string &path) {
    const CommandResult result =
        runCommand("ffprobe -v error -show_entries stream=index,codec_type,codec_name,sample_rate,channels "
                   "-of csv=p=0 " + shellQuote(path));
    std::vector<std::string> streams;
    std::set<std::string> seenIndexes; // MPEG-TS lists its streams again under its program
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        // csv gives index,codec_name,codec_type[,sample_rate,channels]
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, ','))
            if (!field.empty())
                fields.push_back(field);
        if (fields.size() < 3 || !seenIndexes.insert(fields[0]).second)
            continue;
        std::string summary = fields[2] + " " + fields[1];
        for (size_t i = 3; i < fields.size(); ++i)
            summary += " " + fields[i];
        streams.push_back(summary);
    }
    return streams;
}

double durationSeconds(const std::string &path) {
    const CommandResult result =
        runCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shellQuote(path));
    try {
        return std::stod(result.output);
    } catch (...) {
        return -1;
    }
}

bool isReadableMedia(const std::string &path) {
    const CommandResult result = runCommand("ffprobe -v error -show_format -show_streams " + shellQuote(path));
    return result.exitCode == 0 && result.output.find("[FORMAT]") != std::string::npos &&
           result.output.find("rror") == std::string::npos;
}

int decodeErrors(const std::string &path) {
    const CommandResult result = runCommand("ffmpeg -hide_banner -nostdin -v error -i " + shellQuote(path) +
                                            " -f null -");
    if (result.exitCode != 0)
        return 1000;
    int lines = 0;
    std::istringstream stream(result.output);
    std::string line;
    while (std::getline(stream, line))
        if (!line.empty())
            ++lines;
    return lines;
}

std::string videoPacketChecksums(const std::string &path) {
    const CommandResult result =
        runCommand("ffmpeg -hide_banner -nostdin -v error -i " + shellQuote(path) + " -map 0:v -c copy -f framemd5 -");
    // Keep only the packet lines; the header names the time bases, which a
    // muxer may choose differently without touching a single byte.
    std::string packets;
    std::istringstream stream(result.output);
    std::string line;
    while (std::getline(stream, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        // "stream, dts, pts, duration, size, hash": the bytes are size and hash.
        const auto lastComma = line.rfind(',');
        const auto sizeComma = line.rfind(',', lastComma - 1);
        packets += line.substr(sizeComma) + "\n";
    }
    return packets;
}

double toneLevelDb(const std::string &path, double startSeconds, double lengthSeconds, int frequency) {
    std::ostringstream command;
    command << "ffmpeg -hide_banner -nostdin -ss " << startSeconds << " -t " << lengthSeconds << " -i "
            << shellQuote(path) << " -vn -af 'bandpass=f=" << frequency
            << ":width_type=q:w=20,volumedetect' -f null - 2>&1";
    const CommandResult result = runCommand(command.str());
    static const std::regex meanVolume("mean_volume: (-?[0-9.]+) dB");
    std::smatch match;
    if (std::regex_search(result.output, match, meanVolume))
        return std::stod(match[1]);
    return -200;
}

double toneDb(const std::vector<float> &samples, double startSeconds, double lengthSeconds, double frequency) {
    constexpr double rate = 44100;
    const std::size_t first = static_cast<std::size_t>(startSeconds * rate);
    const std::size_t count = static_cast<std::size_t>(lengthSeconds * rate);
    if (first + count > samples.size() || count < 2)
        return std::numeric_limits<double>::quiet_NaN();
    const double omega = 2 * std::numbers::pi * frequency / rate;
    double re = 0, im = 0, weights = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(count - 1));
        re += w * samples[first + i] * std::cos(omega * double(i));
        im -= w * samples[first + i] * std::sin(omega * double(i));
        weights += w;
    }
    const double amplitude = 2 * std::hypot(re, im) / weights;
    return amplitude > 0 ? 20 * std::log10(amplitude) : -200;
}

std::string packetLayout(const std::string &path) {
    const CommandResult positions = runCommand(
        "ffprobe -v error -show_entries packet=stream_index,pts,dts,size,pos -of csv=p=0 " + shellQuote(path));
    const CommandResult checksums =
        runCommand("ffmpeg -hide_banner -nostdin -v error -i " + shellQuote(path) + " -map 0 -c copy -f framemd5 -");
    return positions.output + checksums.output;
}

int packetCount(const std::string &path, const std::string &streamType) {
    const CommandResult result = runCommand("ffprobe -v error -select_streams " + streamType +
                                            " -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
                                            shellQuote(path));
    int total = 0;
    std::istringstream stream(result.output);
    std::string line;
    while (std::getline(stream, line)) {
        try {
            total += std::stoi(line);
        } catch (...) {
        }
    }
    return total;
}

} // namespace melvora::test

namespace melvora::test {
namespace {

std::string commandBytes(const std::string &command) {
    std::string bytes;
    std::FILE *pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return bytes;
    std::array<char, 65536> buffer{};
    size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        bytes.append(buffer.data(), count);
    ::pclose(pipe);
    return bytes;
}

// The time of the earliest of a stream's first decoded frames ("v:0",
// "a:1"), or NaN. Pictures may come out of order, hence several.
double firstFrameSeconds(const std::string &path, const std::string &stream) {
    const CommandResult result =
        runCommand("ffprobe -v error -select_streams " + stream +
                   " -read_intervals %+#16 -show_entries frame=best_effort_timestamp_time -of csv=p=0 " +
                   shellQuote(path));
    std::istringstream lines(result.output);
    std::string line;
    double first = std::nan("");
    while (std::getline(lines, line)) {
        double time = 0;
        if (std::sscanf(line.c_str(), "%lf", &time) == 1 && (std::isnan(first) || time < first))
            first = time;
    }
    return first;
}

} // namespace

DecodedSound decodeSound(const std::string &path, int audioStream) {
    DecodedSound sound;
    const std::string stream = "a:" + std::to_string(audioStream);
    const std::string bytes = commandBytes("ffmpeg -hide_banner -nostdin -v error -i " + shellQuote(path) +
                                           " -map 0:" + stream + " -ac 1 -ar 44100 -f f32le -");
    sound.samples.resize(bytes.size() / sizeof(float));
    std::memcpy(sound.samples.data(), bytes.data(), sound.samples.size() * sizeof(float));
    // Music has no picture to play with: its own clock does not matter.
    const double picture = firstFrameSeconds(path, "v:0");
    sound.startSeconds = std::isnan(picture) ? 0.0 : firstFrameSeconds(path, stream) - picture;
    return sound;
}

long soundOffsetSamples(const DecodedSound &reference, const DecodedSound &candidate, int maxLag) {
    const std::vector<float> &a = reference.samples;
    const std::vector<float> &b = candidate.samples;
    const long window = 44100;
    long bestLag = 0;
    double best = -1;
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        // candidate[i + lag] against reference[i]
        double dot = 0, energy = 0;
        for (long i = maxLag; i < window + maxLag; ++i) {
            const long j = i + lag;
            if (i >= static_cast<long>(a.size()) || j >= static_cast<long>(b.size()))
                break;
            dot += static_cast<double>(a[i]) * b[j];
            energy += static_cast<double>(b[j]) * b[j];
        }
        const double score = energy > 0 ? dot / std::sqrt(energy) : 0;
        if (score > best) {
            best = score;
            bestLag = lag;
        }
    }
    return std::lround((candidate.startSeconds - reference.startSeconds) * 44100.0) + bestLag;
}

double pictureLengthSeconds(const std::string &path) {
    const CommandResult result = runCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                            "packet=pts_time,duration_time -of csv=p=0 " +
                                            shellQuote(path));
    std::istringstream lines(result.output);
    std::string line;
    double first = std::nan(""), end = 0;
    while (std::getline(lines, line)) {
        double pts = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &duration) < 1)
            continue;
        if (std::isnan(first) || pts < first)
            first = pts;
        end = std::max(end, pts + duration);
    }
    return std::isnan(first) ? 0 : end - first;
}

} // namespace melvora::test
