// Only the local file the user chose is ever read: names that look like
// other protocols are plain file names (refused when no such file exists,
// read from disk when one does), and playlists or references inside a local
// file reach neither the network nor any other file. A listener on the
// loopback interface proves that nothing was fetched.

#include "MediaTool.h"
#include "SampleMedia.h"
#include "WatchedRun.h"

#include "engine/MediaProbe.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <filesystem>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace melvora::test {
namespace {

// A TCP listener on 127.0.0.1 that only counts who knocked.
class LoopbackListener {
public:
    LoopbackListener() {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(m_socket, 16) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackListener() {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    int port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Connections that arrived so far (each is closed at once).
    int connections() {
        int count = 0;
        for (;;) {
            const int peer = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                return count;
            ::close(peer);
            ++count;
        }
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

// Changes the working folder for its lifetime, so that relative names that
// look like URLs can name real files.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string &folder) : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(m_previous); }
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;

private:
    std::filesystem::path m_previous;
};

struct Attempt {
    ProbeOutcome asVideo;
    ProbeOutcome asMusic;
    MixOutcome mixedAsVideo;
    MixOutcome mixedAsMusic;
};

// Probes the name both ways and mixes it both ways.
Attempt attempt(const std::string &name, const std::string &outputFolder) {
    static int counter = 0;
    const std::string prefix = outputFolder + "/attempt-" + std::to_string(counter++);
    MixJob job;
    Attempt result;
    result.asVideo = watchedProbe(job, name, true);
    result.asMusic = watchedProbe(job, name, false);
    result.mixedAsVideo = watchedMix(job, name, sample("music.mp3"), prefix + "-video.mp4");
    result.mixedAsMusic = watchedMix(job, sample("v-h264.mkv"), name, prefix + "-music.mkv");
    return result;
}

void expectRefused(const Attempt &result) {
    EXPECT_EQ(result.asVideo.result, kProbeNotUsable);
    EXPECT_EQ(result.asMusic.result, kProbeNotUsable);
    EXPECT_FALSE(result.asVideo.hung || result.asMusic.hung || result.mixedAsVideo.hung || result.mixedAsMusic.hung);
    EXPECT_EQ(result.mixedAsVideo.status, JobStatus::Failed);
    EXPECT_NE(result.mixedAsVideo.error.find("video"), std::string::npos) << result.mixedAsVideo.error;
    EXPECT_EQ(result.mixedAsMusic.status, JobStatus::Failed);
    EXPECT_NE(result.mixedAsMusic.error.find("music"), std::string::npos) << result.mixedAsMusic.error;
}

TEST(LocalOnly, NamesOfOtherProtocolsAreRefusedWhenNoSuchFileExists) {
    LoopbackListener listener;
    ASSERT_GT(listener.port(), 0);
    const std::string video = sample("v-h264-aac.mp4");
    const std::string output = makeFolder("local-only-names");
    const std::string names[] = {
        "http://" + listener.address() + "/clip.mp4",
        "tcp://" + listener.address(),
        "rtsp://" + listener.address() + "/clip",
        "concat:" + video + "|" + video,
        "subfile,,start,0,end,0,,:" + video,
        "async:" + video,
        "cache:" + video,
        "crypto:" + video,
        "pipe:0",
        "data:video/mp4;base64,AAAAIGZ0eXBpc29t",
        "file:" + video, // "file:file:..." names a file literally called "file:..."
    };
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        expectRefused(attempt(name, output));
    }
    EXPECT_EQ(listener.connections(), 0);
}

// Real local files whose relative names look like URLs are read from disk,
// and only from disk.
TEST(LocalOnly, FilesNamedLikeUrlsAreReadAsPlainFiles) {
    LoopbackListener listener;
    ASSERT_GT(listener.port(), 0);
    const std::string folder = makeFolder("local-only-literal");
    const std::string output = makeFolder("local-only-literal-out");
    const std::string httpName = "http://" + listener.address() + "/clip.mp4"; // folders "http:" and "127.0.0.1:port"
    const std::string names[] = {httpName, "concat:clip.mp4|clip.mp4", "subfile,,start,0,end,9,,:clip.mp4"};
    WorkingFolder inFolder(folder);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        std::filesystem::create_directories(std::filesystem::path(name).parent_path().empty()
                                                ? std::filesystem::path(".")
                                                : std::filesystem::path(name).parent_path());
        std::filesystem::copy_file(sample("v-h264-aac.mp4"), name);
        MixJob job;
        EXPECT_EQ(watchedProbe(job, name, true).result, kProbeAccepted);
        EXPECT_EQ(job.info.videoWidth, 64); // the file's own picture, not a concatenation of anything
        const MixOutcome mixed = watchedMix(job, name, sample("music.mp3"), output + "/out.mp4");
        EXPECT_EQ(mixed.status, JobStatus::Finished) << mixed.error;
        EXPECT_NEAR(durationSeconds(output + "/out.mp4"), durationSeconds(sample("v-h264-aac.mp4")), 0.2);
        std::filesystem::remove(output + "/out.mp4");
    }
    EXPECT_EQ(listener.connections(), 0);
}

struct PlaylistCase {
    const char *name;
    const char *fileName;
    std::function<std::string(const std::string &server, const std::string &folder)> content;
};

void PrintTo(const PlaylistCase &c, std::ostream *os) { *os << c.name; }

class PlaylistInsideALocalFile : public ::testing::TestWithParam<PlaylistCase> {};

// A playlist or manifest in a local file points at the network or at another
// local file (a 320x240 picture no other sample has). Neither is read: the
// file is refused as it stands.
TEST_P(PlaylistInsideALocalFile, ReachesNeitherTheNetworkNorAnotherFile) {
    LoopbackListener listener;
    ASSERT_GT(listener.port(), 0);
    const std::string folder = makeFolder(std::string("playlist-") + GetParam().name);
    std::filesystem::copy_file(sample("other-320x240.mp4"), folder + "/other.mp4");
    std::filesystem::copy_file(sample("other-320x240.ts"), folder + "/other.ts");
    const std::string playlist = folder + "/" + GetParam().fileName;
    writeText(playlist, GetParam().content("http://" + listener.address(), folder));

    const Attempt result = attempt(playlist, makeFolder(std::string("playlist-out-") + GetParam().name));
    MixJob job;
    watchedProbe(job, playlist, true);
    EXPECT_NE(job.info.videoWidth, 320) << "the probe read the other file";
    expectRefused(result);
    EXPECT_EQ(listener.connections(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Playlists, PlaylistInsideALocalFile,
    ::testing::Values(
        PlaylistCase{"hls_to_http", "list.m3u8",
                     [](const std::string &server, const std::string &) {
                         return "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:1,\n" + server +
                                "/other.ts\n#EXT-X-ENDLIST\n";
                     }},
        PlaylistCase{"hls_to_local_file", "list.m3u8",
                     [](const std::string &, const std::string &folder) {
                         return "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:1,\nfile:" + folder +
                                "/other.ts\n#EXT-X-ENDLIST\n";
                     }},
        PlaylistCase{"hls_named_mp4_to_local_file", "clip.mp4",
                     [](const std::string &, const std::string &) {
                         return std::string("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:1,\nother.ts\n#EXT-X-ENDLIST\n");
                     }},
        PlaylistCase{"ffconcat_to_local_file", "list.ffconcat",
                     [](const std::string &, const std::string &) {
                         return std::string("ffconcat version 1.0\nfile other.mp4\n");
                     }},
        PlaylistCase{"ffconcat_named_mp4_to_http", "clip.mp4",
                     [](const std::string &server, const std::string &) {
                         return "ffconcat version 1.0\nfile '" + server + "/other.mp4'\n";
                     }},
        PlaylistCase{"dash_to_http", "clip.mpd",
                     [](const std::string &server, const std::string &) {
                         return "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" "
                                "type=\"static\" mediaPresentationDuration=\"PT1S\" minBufferTime=\"PT1S\" "
                                "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\"><Period><AdaptationSet "
                                "mimeType=\"video/mp4\"><Representation id=\"1\" bandwidth=\"1000\"><BaseURL>" +
                                server +
                                "/other.mp4</BaseURL></Representation></AdaptationSet></Period></MPD>\n";
                     }},
        PlaylistCase{"dash_to_local_file", "clip.mpd",
                     [](const std::string &, const std::string &) {
                         return std::string(
                             "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" "
                             "type=\"static\" mediaPresentationDuration=\"PT1S\" minBufferTime=\"PT1S\" "
                             "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\"><Period><AdaptationSet "
                             "mimeType=\"video/mp4\"><Representation id=\"1\" bandwidth=\"1000\"><BaseURL>"
                             "other.mp4</BaseURL></Representation></AdaptationSet></Period></MPD>\n");
                     }}),
    [](const ::testing::TestParamInfo<PlaylistCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace melvora::test
