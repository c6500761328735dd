#include "engine/MemoryInput.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/mem.h>
}

namespace melvora {

// One opened view of the bytes: its own position and its own I/O context.
struct MemoryInput::Reader {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    std::shared_ptr<ReadBudget> budget;
    std::int64_t position = 0;
    AVIOContext *io = nullptr;

    ~Reader() {
        if (io) {
            // The buffer may have been replaced by FFmpeg; free the current one.
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    bool spend() { return !budget || budget->spendOne(); }

    static int read(void *opaque, std::uint8_t *buffer, int size) {
        auto *reader = static_cast<Reader *>(opaque);
        if (!reader->spend())
            return AVERROR_EOF;
        const auto length = static_cast<std::int64_t>(reader->bytes->size());
        if (reader->position >= length || size <= 0)
            return AVERROR_EOF;
        const auto count = static_cast<int>(std::min<std::int64_t>(size, length - reader->position));
        std::memcpy(buffer, reader->bytes->data() + reader->position, static_cast<std::size_t>(count));
        reader->position += count;
        return count;
    }

    static std::int64_t seek(void *opaque, std::int64_t offset, int whence) {
        auto *reader = static_cast<Reader *>(opaque);
        const auto length = static_cast<std::int64_t>(reader->bytes->size());
        whence &= ~AVSEEK_FORCE;
        if (whence == AVSEEK_SIZE)
            return length;
        if (!reader->spend())
            return AVERROR_EOF;
        std::int64_t target = 0;
        if (whence == SEEK_SET)
            target = offset;
        else if (whence == SEEK_CUR)
            target = reader->position + offset;
        else if (whence == SEEK_END)
            target = length + offset;
        else
            return AVERROR(EINVAL);
        if (target < 0)
            return AVERROR(EINVAL);
        reader->position = target; // past the end is allowed; reads then end the file
        return target;
    }
};

namespace {

using RegistryKey = std::pair<const MixJob *, std::string>;

std::mutex registryLock;
std::map<RegistryKey, MemoryInput *> &registry() {
    static std::map<RegistryKey, MemoryInput *> inputs;
    return inputs;
}
// Lets the front ends' opens skip the lock: they never register anything.
std::atomic<int> registeredCount{0};

// A memory input stands alone: whatever it names inside (playlist entries,
// references to other files) is never opened.
int refuseNestedOpen(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **) { return AVERROR(EPERM); }

} // namespace

bool MemoryInput::ReadBudget::spendOne() {
    const std::int64_t before = callsLeft.fetch_sub(1);
    if (before == 1 && onSpent)
        onSpent();
    return before > 0;
}

MemoryInput::MemoryInput(const MixJob &job, std::string name, std::vector<std::uint8_t> bytes,
                         std::shared_ptr<ReadBudget> budget, int bufferSize)
    : m_job(&job), m_name(std::move(name)),
      m_bytes(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))), m_budget(std::move(budget)),
      m_bufferSize(std::max(bufferSize, 64)) {
    std::lock_guard lock(registryLock);
    if (registry().emplace(RegistryKey{m_job, m_name}, this).second)
        ++registeredCount;
}

MemoryInput::~MemoryInput() {
    std::lock_guard lock(registryLock);
    auto found = registry().find(RegistryKey{m_job, m_name});
    if (found != registry().end() && found->second == this) {
        registry().erase(found);
        --registeredCount;
    }
    m_readers.clear();
}

int MemoryInput::openCount() const {
    std::lock_guard lock(registryLock);
    return static_cast<int>(m_readers.size());
}

int MemoryInput::attach(const MixJob &job, AVFormatContext *context, const std::string &name) {
    if (registeredCount.load() == 0)
        return 0;
    std::lock_guard lock(registryLock);
    const auto found = registry().find(RegistryKey{&job, name});
    if (found == registry().end())
        return 0;
    return found->second->attachTo(context);
}

int MemoryInput::attachTo(AVFormatContext *context) {
    auto reader = std::make_unique<Reader>();
    reader->bytes = m_bytes;
    reader->budget = m_budget;
    auto *buffer = static_cast<std::uint8_t *>(av_malloc(static_cast<std::size_t>(m_bufferSize)));
    if (!buffer)
        return AVERROR(ENOMEM);
    reader->io = avio_alloc_context(buffer, m_bufferSize, 0, reader.get(), &Reader::read, nullptr, &Reader::seek);
    if (!reader->io) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    // The format context never frees a custom I/O context; this input does,
    // when it is destroyed.
    context->pb = reader->io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->io_open = refuseNestedOpen;
    m_readers.push_back(std::move(reader));
    return 1;
}

} // namespace melvora
