#include "jobcontrol/OutputFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melvora {

bool pathExists(const std::string &path) {
    struct stat info {};
    return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

bool folderExists(const std::string &path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string joinPath(const std::string &folder, const std::string &name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool folderAcceptsNewFile(const std::string &folder, std::string *why) {
    const auto refuse = [why](int error) {
        if (why)
            *why = std::strerror(error);
        return false;
    };
    if (!folderExists(folder))
        return refuse(ENOTDIR);
    // O_EXCL with O_NOFOLLOW: only a file this test itself created is ever removed.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = kWriteProbeFileName;
        if (attempt > 0)
            name = "jlewhqlhqwenqfwk-" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".mp4";
        const std::string path = joinPath(folder, name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
            return true;
        }
        if (errno != EEXIST)
            return refuse(errno);
    }
    return refuse(EEXIST);
}

} // namespace melvora
