// Compresses the files of a ZIP update on worker threads, ahead of the writer.
//
// Every file to be compressed is a job. Workers take the jobs in list order:
// each examines its file (size, attributes, time), reads it, keeps its CRC
// and compresses it into a queue of chunks. The writer takes the jobs in the
// same order and writes each job's chunks as they arrive, so the archive
// comes out byte for byte the same with any number of threads.
//
// Memory stays bounded: a job's queue holds at most kQueueLimit bytes (its
// worker waits for the writer beyond that), and a worker starts a new job
// only while all queues together hold less than a budget of a few queues
// per thread.
//
// Workers never report or ask: whatever goes wrong is kept in the job and
// the writer reports it on the user-interface thread when it reaches it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codecs/codec_result.h"
#include "win32/handles.h"

namespace tessera {
class Deflater;
}

namespace tessera::zip {

// A file to be added, as examined before anything is read.
struct SourceFile {
    bool folder = false;
    uint32_t size = 0;
    uint32_t attributes = 0;  // Windows attributes as read
    WORD dosDate = 0;
    WORD dosTime = 0;
};

// Why a file is left out, with what its warning names.
enum class SourceProblem {
    kNone,
    kCannotOpen,          // path, system error
    kFileAndFolderSame,   // the entry name
    kTooLarge,            // path, megabytes
};

// Examines `path`, which is to become the entry `name` (a folder's name ends
// in '/'), and opens a file for reading. Safe on any thread; reports nothing.
SourceProblem ExamineSource(const std::string& path, const std::string& name, SourceFile* source,
                            win32::FileHandle* opened, DWORD* error, uint32_t* megabytes);

class CompressAhead {
public:
    struct Settings {
        int level = 6;                     // Deflate level; 0 stores everything
        const char* storeOnly = nullptr;   // extensions stored as they are; null: none
        bool outputSeekable = true;        // passed to the encoder (a file may fall back to storing)
        unsigned threads = 1;              // at least 1
    };
    struct File {
        std::string path;
        std::string name;  // as text, '/' separated
    };

    // The outcome of one job; complete when its last chunk was taken.
    struct Result {
        SourceProblem problem = SourceProblem::kNone;
        DWORD error = 0;            // with a problem or a read failure
        uint32_t megabytes = 0;     // with kTooLarge
        SourceFile source;
        uint16_t method = 0;        // final: the encoder may fall back to storing
        uint16_t flags = 0;         // deflate option bits 1-2
        uint16_t internalAttributes = 0;
        uint32_t crc = 0;
        uint64_t count = 0;         // bytes read
        bool readFailed = false;    // the file could not be read to its end
        CodecResult codec = CodecResult::kOk;
    };

    // `chooser` picks stored or deflated for a file; it runs on the workers.
    using MethodChooser = uint16_t (*)(const Settings&, const std::string& name, const SourceFile& source);
    // Runs every few milliseconds while the writer waits; false ends the wait.
    using Idle = std::function<bool()>;

    CompressAhead(const Settings& settings, MethodChooser chooser, std::vector<File> files);
    ~CompressAhead();  // stops the workers and waits for them
    CompressAhead(const CompressAhead&) = delete;
    CompressAhead& operator=(const CompressAhead&) = delete;

    // Starts the workers; false when not one could be started.
    bool Start();

    // Makes the next job the writer's and waits until its file is examined;
    // false when `idle` ended the wait or every job was taken. `examined`
    // receives the problem, the source and the method; a job with a problem
    // or a folder has no chunks.
    bool Next(const Idle& idle, Result* examined);
    // The current job's next chunk of output, with how much of the file had
    // been read when the chunk was made. At the job's end: true with `ended`
    // set and `finished` holding the whole result. False when `idle` ended
    // the wait.
    bool Chunk(const Idle& idle, std::vector<uint8_t>* chunk, uint64_t* readSoFar, bool* ended, Result* finished);

    // Stops every worker at its next read or write; jobs end unfinished.
    void Stop();

    static constexpr size_t kChunkSize = 64 * 1024;
    static constexpr size_t kQueueLimit = 1024 * 1024;

private:
    struct Job;
    class JobSource;
    class JobSink;

    static DWORD WINAPI WorkerMain(void* self);
    void Work();
    void RunJob(Job& job, std::unique_ptr<Deflater>* deflater);
    // Waits for a change until `ready()`; false when `idle` ends the wait.
    template <class Ready>
    bool WaitAsWriter(const Ready& ready, const Idle& idle);

    const Settings settings_;
    const MethodChooser chooser_;
    std::vector<std::unique_ptr<Job>> jobs_;
    std::vector<win32::KernelHandle> threads_;

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::atomic<bool> stop_{false};
    size_t nextToTake_ = 0;   // by the workers, under the lock
    size_t nextToWrite_ = 0;  // by the writer
    Job* current_ = nullptr;  // the writer's job, from Next()
    size_t queuedBytes_ = 0;  // in every queue, under the lock
    size_t budget_ = 0;
};

}  // namespace tessera::zip
