// The ACE stubs' reader: the appended ACE archive through the portable ACE
// walk and decoder.
//
// The first volume is the stub's own file seen from the archive origin on;
// further volumes of a set are plain files beside the program, named as
// ACE names them.
#include <memory>
#include <new>

#include "formats/ace/ace_archive.h"
#include "sfx/stub.h"
#include "sfx/stub_ids.h"

namespace tessera::sfx {

namespace {

using namespace tessera::ace;

// A file read at offsets counted from `base`.
class FileInput final : public RandomAccessInput {
public:
    FileInput(HANDLE file, uint64_t base, bool owned) : file_(file), base_(base), owned_(owned) {
        LARGE_INTEGER size;
        uint64_t whole = GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
        size_ = whole > base ? whole - base : 0;
    }
    ~FileInput() override {
        if (owned_) CloseHandle(file_);
    }
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        *got = 0;
        if (offset >= size_) return true;
        if (size > size_ - offset) size = static_cast<size_t>(size_ - offset);
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(base_ + offset);
        DWORD done = 0;
        if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) ||
            !ReadFile(file_, buffer, static_cast<DWORD>(size), &done, nullptr))
            return false;
        *got = done;
        return true;
    }

private:
    HANDLE file_;
    uint64_t base_;
    bool owned_;
    uint64_t size_ = 0;
};

class Volumes final : public AceVolumeOpener {
public:
    explicit Volumes(Extraction& run) : run_(run) {}
    std::unique_ptr<RandomAccessInput> OpenVolume(const std::string& name, unsigned index) override {
        if (index == 0)
            return std::unique_ptr<RandomAccessInput>(new (std::nothrow)
                                                          FileInput(run_.OwnFile(), run_.Origin(), false));
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        return std::unique_ptr<RandomAccessInput>(new (std::nothrow) FileInput(file, 0, true));
    }

private:
    Extraction& run_;
};

class TargetSink final : public ByteSink {
public:
    explicit TargetSink(Extraction& run) : run_(run) {}
    bool Write(const uint8_t* data, size_t size) override { return run_.Write(data, size); }

private:
    Extraction& run_;
};

}  // namespace

bool ExtractAppendedArchive(Extraction& run) {
    Volumes volumes(run);
    AceArchiveReader reader(volumes);
    if (reader.Open(run.OwnPath()) != AceStatus::kOk) {
        run.Message(IDS_DAMAGED);
        return false;
    }
    std::unique_ptr<AceDecoder> decoder(new (std::nothrow) AceDecoder());
    if (!decoder || !decoder->Ready()) {
        run.Message(IDS_NO_MEMORY);
        return false;
    }
    TargetSink sink(run);
    for (;;) {
        AceEntry entry;
        AceStatus status = reader.NextEntry(entry);
        if (status == AceStatus::kEnd) break;
        if (status != AceStatus::kOk) {
            run.Message(IDS_DAMAGED);
            return false;
        }
        const AceFileHeader& h = entry.header;
        if (h.IsFolder()) {
            run.MakeFolderEntry(h.name, NameCoding::kOem);
            if (run.Cancelled()) return false;
            continue;
        }
        HANDLE target = run.BeginFile(h.name, NameCoding::kOem, h.size);
        if (run.Cancelled()) return false;
        // A declined entry of a solid archive still goes through the
        // decoder: the entries after it are decoded from its window.
        AceEntryOutcome outcome = reader.DecodeEntry(*decoder, entry, target == INVALID_HANDLE_VALUE ? nullptr : &sink);
        if (target == INVALID_HANDLE_VALUE) {
            if (!outcome.Ok()) {
                run.Message(IDS_DAMAGED);
                return false;
            }
            continue;
        }
        bool whole = outcome.Ok();
        if (!whole && !run.Cancelled() && outcome.codec != CodecResult::kAborted) {
            if (!outcome.encrypted && outcome.codec == CodecResult::kOk && outcome.input == AceStatus::kOk)
                run.Message(IDS_BAD_CHECKSUM, static_cast<unsigned long>(~outcome.crcFound),
                            static_cast<unsigned long>(~outcome.crcExpected));
            else
                run.Message(IDS_DAMAGED);
        }
        run.FinishFile(whole, static_cast<uint16_t>(h.time >> 16), static_cast<uint16_t>(h.time), h.attributes);
        // A failed entry ends the run: in a solid archive everything after
        // it would be decoded from a wrong window anyway.
        if (!whole) return false;
    }
    return !run.Cancelled();
}

}  // namespace tessera::sfx
