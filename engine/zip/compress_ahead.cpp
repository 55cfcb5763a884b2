#include "zip/compress_ahead.h"

#include <utility>

#include "codecs/byte_io.h"
#include "codecs/crc32/crc32.h"
#include "codecs/deflate/deflate.h"
#include "core/file_io.h"
#include "zip/zip_records.h"

namespace tessera::zip {

namespace {

// Files up to 4 GiB less a margin for the format's own overhead.
constexpr uint32_t kLargestFile = 0xFFFFFFFFu - 0x10000u;
constexpr DWORD kReadChunk = 0x100000;
constexpr DWORD kIdleInterval = 15;  // milliseconds between the writer's idle calls

// The lock held for one scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace

SourceProblem ExamineSource(const std::string& path, const std::string& name, SourceFile* source,
                            win32::FileHandle* opened, DWORD* error, uint32_t* megabytes) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        *error = GetLastError();
        return SourceProblem::kCannotOpen;
    }
    source->folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool folderName = !name.empty() && name.back() == '/';
    if (source->folder != folderName) return SourceProblem::kFileAndFolderSame;
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > kLargestFile) {
        *megabytes = static_cast<uint32_t>(((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) >> 20);
        return SourceProblem::kTooLarge;
    }
    source->size = source->folder ? 0 : data.nFileSizeLow;
    source->attributes = data.dwFileAttributes;
    FILETIME local;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, &source->dosDate, &source->dosTime);
    if (source->folder) return SourceProblem::kNone;
    opened->reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!*opened) {
        *error = GetLastError();
        return SourceProblem::kCannotOpen;
    }
    return SourceProblem::kNone;
}

// One file on its way: the worker fills it, the writer empties it. Every
// field below `file` is guarded by the lock.
struct CompressAhead::Job {
    struct Piece {
        std::vector<uint8_t> bytes;
        uint64_t readSoFar = 0;
    };
    File file;
    bool examined = false;  // result's problem, source and method are set
    bool finished = false;  // the whole result is set and no more pieces come
    std::deque<Piece> pieces;
    size_t queued = 0;      // bytes in `pieces`
    Result result;
};

// Reads the job's file with its CRC and count; stops at a failed read or
// when the run stops.
class CompressAhead::JobSource final : public ByteSource {
public:
    JobSource(HANDLE file, const std::atomic<bool>& stop) : file_(file), stop_(stop) {}

    size_t Read(uint8_t* buffer, size_t capacity) override {
        if (failed_ || stop_.load(std::memory_order_relaxed)) return 0;
        DWORD got = 0;
        const DWORD want = capacity > kReadChunk ? kReadChunk : static_cast<DWORD>(capacity);
        if (!EngineReadFile(file_, buffer, want, &got)) {
            error_ = GetLastError();
            failed_ = true;
            return 0;
        }
        crc_ = Crc32Update(crc_, buffer, got);
        count_ += got;
        return got;
    }

    uint32_t Crc() const { return ~crc_; }
    uint64_t Count() const { return count_; }
    bool Failed() const { return failed_; }
    DWORD Error() const { return error_; }

private:
    HANDLE file_;
    const std::atomic<bool>& stop_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t count_ = 0;
    bool failed_ = false;
    DWORD error_ = 0;
};

// Gathers output into chunks and queues them for the writer, waiting while
// the job's queue is full.
class CompressAhead::JobSink final : public ByteSink {
public:
    JobSink(CompressAhead& owner, Job& job, const JobSource& source) : owner_(owner), job_(job), source_(source) {}

    bool Write(const uint8_t* data, size_t size) override {
        while (size > 0) {
            const size_t room = kChunkSize - pending_.size();
            const size_t take = size < room ? size : room;
            pending_.insert(pending_.end(), data, data + take);
            data += take;
            size -= take;
            if (pending_.size() == kChunkSize && !Flush()) return false;
        }
        return !owner_.stop_.load(std::memory_order_relaxed);
    }

    // Queues what is gathered; false when the run stopped meanwhile.
    bool Flush() {
        if (pending_.empty()) return !owner_.stop_.load();
        ExclusiveLock hold(owner_.lock_);
        while (job_.queued >= kQueueLimit && !owner_.stop_.load())
            SleepConditionVariableSRW(&owner_.changed_, &owner_.lock_, INFINITE, 0);
        if (owner_.stop_.load()) return false;
        job_.queued += pending_.size();
        owner_.queuedBytes_ += pending_.size();
        Job::Piece piece;
        piece.bytes = std::move(pending_);
        piece.readSoFar = source_.Count();
        job_.pieces.push_back(std::move(piece));
        pending_ = std::vector<uint8_t>();
        pending_.reserve(kChunkSize);
        WakeAllConditionVariable(&owner_.changed_);
        return true;
    }

private:
    CompressAhead& owner_;
    Job& job_;
    const JobSource& source_;
    std::vector<uint8_t> pending_;
};

CompressAhead::CompressAhead(const Settings& settings, MethodChooser chooser, std::vector<File> files)
    : settings_(settings), chooser_(chooser) {
    jobs_.reserve(files.size());
    for (File& file : files) {
        std::unique_ptr<Job> job(new Job);
        job->file = std::move(file);
        jobs_.push_back(std::move(job));
    }
    const unsigned threads = settings_.threads ? settings_.threads : 1;
    budget_ = static_cast<size_t>(threads) * 2 * kQueueLimit;
}

CompressAhead::~CompressAhead() {
    Stop();
    for (win32::KernelHandle& thread : threads_) WaitForSingleObject(thread.get(), INFINITE);
}

bool CompressAhead::Start() {
    unsigned threads = settings_.threads ? settings_.threads : 1;
    if (threads > jobs_.size()) threads = static_cast<unsigned>(jobs_.size() ? jobs_.size() : 1);
    for (unsigned i = 0; i < threads; ++i) {
        win32::KernelHandle thread(CreateThread(nullptr, 0, &CompressAhead::WorkerMain, this, 0, nullptr));
        if (!thread) break;
        threads_.push_back(std::move(thread));
    }
    return !threads_.empty();
}

void CompressAhead::Stop() {
    ExclusiveLock hold(lock_);
    stop_.store(true);
    WakeAllConditionVariable(&changed_);
}

DWORD WINAPI CompressAhead::WorkerMain(void* self) {
    static_cast<CompressAhead*>(self)->Work();
    return 0;
}

void CompressAhead::Work() {
    std::unique_ptr<Deflater> deflater;
    for (;;) {
        Job* job = nullptr;
        {
            ExclusiveLock hold(lock_);
            while (!stop_.load() && nextToTake_ < jobs_.size() && queuedBytes_ >= budget_)
                SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
            if (stop_.load() || nextToTake_ >= jobs_.size()) return;
            job = jobs_[nextToTake_++].get();
        }
        RunJob(*job, &deflater);
    }
}

void CompressAhead::RunJob(Job& job, std::unique_ptr<Deflater>* deflater) {
    Result result;
    win32::FileHandle file;
    result.problem = ExamineSource(job.file.path, job.file.name, &result.source, &file, &result.error, &result.megabytes);
    if (result.problem == SourceProblem::kNone) result.method = chooser_(settings_, job.file.name, result.source);
    const bool nothingToRead = result.problem != SourceProblem::kNone || result.source.folder;
    {
        ExclusiveLock hold(lock_);
        job.result = result;
        job.examined = true;
        job.finished = nothingToRead;
        WakeAllConditionVariable(&changed_);
    }
    if (nothingToRead) return;

    JobSource source(file.get(), stop_);
    JobSink sink(*this, job, source);
    if (result.method == kMethodDeflate) {
        if (!*deflater) deflater->reset(new (std::nothrow) Deflater);
        if (!*deflater) {
            result.codec = CodecResult::kNoMemory;
        } else {
            DeflateFile options;
            options.level = settings_.level;
            options.outputSeekable = settings_.outputSeekable;
            result.codec = (*deflater)->Compress(source, sink, options);
            result.method = options.method;
            result.flags = options.flags;
            result.internalAttributes = InternalAttributesFor(options.method, options.internalAttributes == kInternalAttributeText);
        }
    } else {
        std::vector<uint8_t> buffer(kChunkSize);
        for (;;) {
            const size_t got = source.Read(buffer.data(), buffer.size());
            if (got == 0) break;
            if (!sink.Write(buffer.data(), got)) {
                result.codec = CodecResult::kAborted;
                break;
            }
        }
    }
    if (result.codec == CodecResult::kOk && !sink.Flush()) result.codec = CodecResult::kAborted;
    result.crc = source.Crc();
    result.count = source.Count();
    result.readFailed = source.Failed();
    result.error = source.Error();
    ExclusiveLock hold(lock_);
    job.result = result;
    job.finished = true;
    WakeAllConditionVariable(&changed_);
}

template <class Ready>
bool CompressAhead::WaitAsWriter(const Ready& ready, const Idle& idle) {
    for (;;) {
        {
            ExclusiveLock hold(lock_);
            if (ready()) return true;
            SleepConditionVariableSRW(&changed_, &lock_, kIdleInterval, 0);
            if (ready()) return true;
        }
        if (!idle()) return false;
    }
}

bool CompressAhead::Next(const Idle& idle, Result* examined) {
    if (nextToWrite_ >= jobs_.size()) return false;
    current_ = jobs_[nextToWrite_++].get();
    Job& job = *current_;
    if (!WaitAsWriter([&] { return job.examined; }, idle)) return false;
    ExclusiveLock hold(lock_);
    *examined = job.result;
    return true;
}

bool CompressAhead::Chunk(const Idle& idle, std::vector<uint8_t>* chunk, uint64_t* readSoFar, bool* ended,
                          Result* finished) {
    Job& job = *current_;
    if (!WaitAsWriter([&] { return !job.pieces.empty() || job.finished; }, idle)) return false;
    ExclusiveLock hold(lock_);
    if (!job.pieces.empty()) {
        Job::Piece& piece = job.pieces.front();
        *chunk = std::move(piece.bytes);
        *readSoFar = piece.readSoFar;
        job.pieces.pop_front();
        job.queued -= chunk->size();
        queuedBytes_ -= chunk->size();
        *ended = false;
        WakeAllConditionVariable(&changed_);
        return true;
    }
    *ended = true;
    *finished = job.result;
    return true;
}

}  // namespace tessera::zip
