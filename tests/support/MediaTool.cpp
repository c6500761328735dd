#include "MediaTool.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
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
