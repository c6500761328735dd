#include "config/IniFile.h"

#include "config/AtomicFileWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melvora {
namespace {

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome readBytes(const std::string &path, std::string &bytes, std::string *error) {
    const auto fail = [&](const char *what, int errorNumber) {
        if (error)
            *error = std::string(what) + " " + path + " (" + std::strerror(errorNumber) + ")";
        return ReadOutcome::Failed;
    };
    // Non-blocking, so that a pipe under the name cannot hold the open; it is
    // refused just below as not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            if (error)
                error->clear();
            return ReadOutcome::Missing;
        }
        return fail("Could not open", errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int saved = errno;
        ::close(fd);
        return fail("Could not examine", saved);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail("Not a regular file:", S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
    if (static_cast<std::size_t>(info.st_size) > IniFile::maxFileSize) {
        ::close(fd);
        return fail("Too large:", EFBIG);
    }
    bytes.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int saved = errno;
            ::close(fd);
            return fail("Could not read", saved);
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > IniFile::maxFileSize) {
            ::close(fd);
            return fail("Too large:", EFBIG);
        }
    }
    ::close(fd);
    return ReadOutcome::Read;
}

} // namespace

std::optional<IniDocument> IniFile::read(const std::string &path, std::string *error) {
    std::string bytes;
    if (readBytes(path, bytes, error) != ReadOutcome::Read)
        return std::nullopt;
    return IniDocument(std::move(bytes));
}

std::optional<std::string> IniFile::readValue(const std::string &path, std::string_view section, std::string_view key) {
    const std::optional<IniDocument> document = read(path);
    if (!document)
        return std::nullopt;
    return document->value(section, key);
}

bool IniFile::writeValue(const std::string &path, std::string_view section, std::string_view key,
                         std::string_view value, std::string *error) {
    std::string bytes;
    IniDocument document;
    switch (readBytes(path, bytes, error)) {
    case ReadOutcome::Read:
        document = IniDocument(std::move(bytes));
        break;
    case ReadOutcome::Missing:
        break;
    case ReadOutcome::Failed:
        return false;
    }
    if (!document.setValue(section, key, value, error))
        return false;
    return AtomicFileWriter::write(path, document.bytes(), error);
}

} // namespace melvora
