#include "cli/InputCollection.h"
#include "cli/CliCommon.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputFolder.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace melvora {

namespace {

class VideoCollector {
public:
    explicit VideoCollector(bool recursive) : m_recursive(recursive) {}

    void addInput(const std::string &input) {
        std::error_code ec;
        if (std::filesystem::is_directory(input, ec))
            addFolder(input);
        else
            addFile(input, true);
    }
    std::vector<Video> take() { return std::move(m_videos); }

private:
    void addFolder(const std::string &folder) {
        std::vector<std::filesystem::path> files, folders;
        std::error_code ec;
        // Stepped with an error code: a folder that fails half-way (removed,
        // unreadable) gives what was read, where ++ would throw and end the run.
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::filesystem::directory_entry &entry = *it;
            std::error_code typeError;
            // Links to folders are not followed: a loop of links would never end.
            if (entry.is_directory(typeError) && !entry.is_symlink(typeError))
                folders.push_back(entry.path());
            else if (entry.is_regular_file(typeError) && entry.path().filename() != kWriteProbeFileName)
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());
        for (const auto &file : files)
            addFile(file.string(), false);
        if (m_recursive)
            for (const auto &sub : folders)
                addFolder(sub.string());
    }

    void addFile(const std::string &path, bool named) {
        const bool stopped = stopSignal().load() != 0;
        if (stopped && !named)
            return;
        std::error_code ec;
        const auto canonical = std::filesystem::weakly_canonical(path, ec);
        const std::string identity = ec ? path : canonical.string();
        if (m_seen.count(identity) != 0)
            return;
        Video video;
        video.path = path;
        if (stopped) {
            // Left unexamined: a named file is still reported, as not started.
        } else if (!pathExists(path)) {
            video.state = VideoState::Refused;
            video.reason = "video file not found: " + path;
        } else if (std::string why; probeAccepts(m_probe, path, MediaKind::Video, &why)) {
            video.probedSeconds = probedVideoSeconds(m_probe);
            video.durationSeconds = *video.probedSeconds;
        } else if (named) {
            video.state = VideoState::Refused;
            video.reason = "not a valid video file: " + path + " (" + why + ")";
        } else {
            return; // a folder's other files are no part of the batch
        }
        m_seen.insert(identity);
        m_videos.push_back(std::move(video));
    }

    bool m_recursive;
    MixJob m_probe;
    std::set<std::string> m_seen;
    std::vector<Video> m_videos;
};

} // namespace

std::vector<Video> collectVideos(const std::vector<std::string> &inputs, bool recursive) {
    VideoCollector collector(recursive);
    for (const std::string &input : inputs)
        collector.addInput(input);
    return collector.take();
}

} // namespace melvora
