#pragma once

// Lets fuzzers and tests hand the engine a file that lives in memory. A
// MemoryInput is registered for one job and one exact name: while it exists,
// openLocalInput serves that name, for that job only, from its bytes through
// a custom AVIOContext instead of the file protocol. No name can switch to
// memory by itself: a job nobody registered an input for (every job of the
// front ends) opens every name from disk exactly as before. An input served
// from memory may not open anything else (playlist entries, references):
// such opens are refused.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVIOContext;

namespace melvora {

struct MixJob;

class MemoryInput {
public:
    // A number of reads and seeks shared by any inputs that hold it; bounds
    // the work on a hostile input the way a packet cap would. Once spent,
    // every read ends the file and onSpent runs (once).
    struct ReadBudget {
        explicit ReadBudget(std::int64_t calls, std::function<void()> whenSpent = {})
            : callsLeft(calls), onSpent(std::move(whenSpent)) {}
        // False once the budget is spent.
        bool spendOne();
        std::atomic<std::int64_t> callsLeft;
        std::function<void()> onSpent;
    };

    // Registers bytes under a name for one job; the pair must not be
    // registered already, and the job must outlive this input. bufferSize is
    // the AVIOContext's buffer: a small one makes every pass over a looping
    // input read (and spend) again.
    MemoryInput(const MixJob &job, std::string name, std::vector<std::uint8_t> bytes,
                std::shared_ptr<ReadBudget> budget = nullptr, int bufferSize = 4096);
    // Unregisters the name and frees every I/O context opened from it. No
    // format context opened from it may be in use any more.
    ~MemoryInput();
    MemoryInput(const MemoryInput &) = delete;
    MemoryInput &operator=(const MemoryInput &) = delete;

    const std::string &name() const { return m_name; }
    // How often the engine opened this input so far.
    int openCount() const;

    // Called by openLocalInput: gives a fresh context a reader over the memory
    // input registered for this job under this name and returns 1, or
    // returns 0 and leaves the context alone when there is none. Negative on
    // allocation failure.
    static int attach(const MixJob &job, AVFormatContext *context, const std::string &name);

private:
    struct Reader;
    int attachTo(AVFormatContext *context);

    const MixJob *m_job;
    std::string m_name;
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    std::shared_ptr<ReadBudget> m_budget;
    int m_bufferSize;
    std::vector<std::unique_ptr<Reader>> m_readers; // guarded by the registry's lock
};

} // namespace melvora
