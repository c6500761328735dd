#include "engine/OutputFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace melvora {
namespace {

constexpr int kBufferSize = 32768;

int descriptorOf(void *opaque) { return static_cast<int>(reinterpret_cast<std::intptr_t>(opaque)); }

int writeBytes(void *opaque, std::uint8_t *bytes, int size) {
    const int fd = descriptorOf(opaque);
    int written = 0;
    while (written < size) {
        const ssize_t result = ::write(fd, bytes + written, static_cast<size_t>(size - written));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        written += static_cast<int>(result);
    }
    return written;
}

std::int64_t seekTo(void *opaque, std::int64_t offset, int whence) {
    const int fd = descriptorOf(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

FileIdentity identityOf(const struct stat &status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

bool sameFile(const FileIdentity &a, const FileIdentity &b) { return a.device == b.device && a.inode == b.inode; }

// Removes path when lstat shows the identified regular file and accepts it.
template <typename Accept> bool removeWhen(const std::string &path, const FileIdentity &identity, Accept accept) {
    if (!identity.known())
        return false;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || !sameFile(identityOf(status), identity) ||
        !accept(status))
        return false;
    return ::unlink(path.c_str()) == 0;
}

} // namespace

int claimNewFile(const std::string &path, FileIdentity &identity) {
    identity = {};
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return -errno;
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    ::close(fd);
    if (known)
        identity = identityOf(status);
    return 0;
}

bool removeIfSameFile(const std::string &path, const FileIdentity &identity) {
    return removeWhen(path, identity, [](const struct stat &) { return true; });
}

bool removeIfSameEmptyFile(const std::string &path, const FileIdentity &identity) {
    return removeWhen(path, identity, [](const struct stat &status) { return status.st_size == 0; });
}

namespace {

// What stands at the output's name may be replaced by the published file:
// the placeholder claimed for the run, still empty, or, without a claim,
// nothing or a regular file (never a link, a pipe or a folder).
int checkFinalName(const std::string &path, const FileIdentity &claimed) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT && !claimed.known())
            return 0;
        return AVERROR(errno);
    }
    if (!S_ISREG(status.st_mode))
        return AVERROR(EINVAL);
    if (claimed.known() && (!sameFile(identityOf(status), claimed) || status.st_size != 0))
        return AVERROR(EEXIST); // another file took the claimed name's place
    return 0;
}

// A new partial file beside path: ".NAME.part", or with a number when an
// earlier run (perhaps still alive) holds that name. A name too long for the
// folder falls back to the placeholder's inode.
int createPartialFile(const std::string &path, const FileIdentity &claimed, std::string &partialPath) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const long nameLimit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string number = attempt == 0 ? "" : "." + std::to_string(attempt);
        std::string partial = "." + name + number + ".part";
        if (nameLimit > 0 && partial.size() > static_cast<std::size_t>(nameLimit))
            partial = ".output-" + std::to_string(claimed.inode) + number + ".part";
        partialPath = folder + partial;
        // Read access lets a muxer read back what it wrote (an MP4 moving
        // its index to the front).
        const int fd = ::open(partialPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd >= 0 ? fd : AVERROR(errno);
    }
    return AVERROR(EEXIST);
}

} // namespace

int openOutputFile(const std::string &path, const FileIdentity &claimed, AVIOContext **io, FileIdentity &opened,
                   std::string &partialPath) {
    *io = nullptr;
    opened = {};
    partialPath.clear();
    if (const int result = checkFinalName(path, claimed); result < 0)
        return result;
    const int fd = createPartialFile(path, claimed, partialPath);
    if (fd < 0) {
        partialPath.clear();
        return fd;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(partialPath.c_str());
        partialPath.clear();
        return AVERROR(error);
    }
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (buffer)
        *io = avio_alloc_context(buffer, kBufferSize, 1, reinterpret_cast<void *>(static_cast<std::intptr_t>(fd)),
                                 nullptr, writeBytes, seekTo);
    if (!*io) {
        av_free(buffer);
        ::close(fd);
        ::unlink(partialPath.c_str());
        partialPath.clear();
        return AVERROR(ENOMEM);
    }
    opened = identityOf(status);
    return 0;
}

int publishOutputFile(const std::string &partialPath, const FileIdentity &written, const std::string &path,
                      const FileIdentity &claimed) {
    struct stat status {};
    if (::lstat(partialPath.c_str(), &status) != 0)
        return AVERROR(errno);
    if (!S_ISREG(status.st_mode) || !sameFile(identityOf(status), written))
        return AVERROR(EEXIST); // not the file this run wrote
    if (const int result = checkFinalName(path, claimed); result < 0)
        return result;
    return ::rename(partialPath.c_str(), path.c_str()) == 0 ? 0 : AVERROR(errno);
}

namespace {

// A reader of the output file at its own position, beside the writer.
struct ReadBack {
    int fd;
    std::int64_t position = 0;
};

int readBack(void *opaque, std::uint8_t *bytes, int size) {
    auto *reader = static_cast<ReadBack *>(opaque);
    for (;;) {
        const ssize_t result = ::pread(reader->fd, bytes, static_cast<size_t>(size), reader->position);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            return AVERROR(errno);
        if (result == 0)
            return AVERROR_EOF;
        reader->position += result;
        return static_cast<int>(result);
    }
}

std::int64_t seekReadBack(void *opaque, std::int64_t offset, int whence) {
    auto *reader = static_cast<ReadBack *>(opaque);
    struct stat status {};
    if ((whence & AVSEEK_SIZE) || (whence & ~AVSEEK_FORCE) == SEEK_END) {
        if (::fstat(reader->fd, &status) != 0)
            return AVERROR(errno);
        if (whence & AVSEEK_SIZE)
            return status.st_size;
        offset += status.st_size;
    } else if ((whence & ~AVSEEK_FORCE) == SEEK_CUR) {
        offset += reader->position;
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    reader->position = offset;
    return offset;
}

int openReadBack(AVFormatContext *owner, AVIOContext **pb, const char *url, int flags, AVDictionary **) {
    if (flags != AVIO_FLAG_READ || !owner->pb || !url || !owner->url || std::strcmp(url, owner->url) != 0)
        return AVERROR(EPERM);
    auto *reader = new (std::nothrow) ReadBack{descriptorOf(owner->pb->opaque)};
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (reader && buffer)
        *pb = avio_alloc_context(buffer, kBufferSize, 0, reader, readBack, nullptr, seekReadBack);
    if (!reader || !buffer || !*pb) {
        av_free(buffer);
        delete reader;
        return AVERROR(ENOMEM);
    }
    return 0;
}

int closeReadBack(AVFormatContext *, AVIOContext *pb) {
    if (!pb)
        return 0;
    delete static_cast<ReadBack *>(pb->opaque);
    av_freep(&pb->buffer);
    avio_context_free(&pb);
    return 0;
}

} // namespace

void allowReadBackOnly(AVFormatContext *output) {
    output->io_open = openReadBack;
    output->io_close2 = closeReadBack;
}

int closeOutputFile(AVIOContext **io) {
    if (!*io)
        return 0;
    avio_flush(*io);
    int result = (*io)->error;
    if (::close(descriptorOf((*io)->opaque)) != 0 && result >= 0)
        result = AVERROR(errno);
    av_freep(&(*io)->buffer);
    avio_context_free(io);
    return result;
}

} // namespace melvora
