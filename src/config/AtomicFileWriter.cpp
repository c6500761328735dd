#include "config/AtomicFileWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace melvora {
namespace {

std::string describe(std::string_view what, const std::string &path, int errorNumber) {
    return std::string(what) + " " + path + " (" + std::strerror(errorNumber) + ")";
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A settings file reached through a symbolic link is updated where it really lives, so that the
// link stays a link.
std::filesystem::path resolvedTarget(const std::string &path) {
    std::error_code ec;
    const std::filesystem::path target(path);
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec))) {
        auto resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec)
            return resolved;
    }
    return target;
}

void syncFolder(const std::filesystem::path &folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // not every file system supports this; the rename has happened either way
    ::close(fd);
}

} // namespace

bool AtomicFileWriter::write(const std::string &path, std::string_view bytes, std::string *error) {
    const std::filesystem::path target = resolvedTarget(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();

    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = describe("Could not create a temporary file in", folder.string(), errno);
        return false;
    }

    // Keep the permissions of the file being replaced; a new file is readable by everyone. A file
    // system without permissions refuses fchmod, which is no reason to lose the value.
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    (void)::fchmod(fd, mode);

    const char *failedStep = nullptr;
    if (!writeAll(fd, bytes))
        failedStep = "Could not write";
    else if (::fsync(fd) != 0)
        failedStep = "Could not flush";
    int failureErrno = failedStep ? errno : 0;
    if (::close(fd) != 0 && !failedStep) {
        failedStep = "Could not close";
        failureErrno = errno;
    }
    if (!failedStep && ::rename(temporary.c_str(), target.c_str()) != 0) {
        failedStep = "Could not rename over the target";
        failureErrno = errno;
    }
    if (failedStep) {
        ::unlink(temporary.c_str());
        if (error)
            *error = describe(failedStep, temporary, failureErrno);
        return false;
    }
    syncFolder(folder);
    return true;
}

} // namespace melvora
