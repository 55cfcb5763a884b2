// The cabinet reader (see cab_reader.h).
//
// A walk keeps the header records of every cabinet of the set it has opened
// (memory bounded by those files' sizes, never by a count field) and one
// cursor into the folder being decoded. A folder that continues in the next
// cabinet is followed block by block; a block cut at a cabinet end arrives
// as parts with cbUncomp 0 that are joined, each part checked on its own.
// Every read position comes from a record that was checked against the
// bytes actually read; the walk always moves forward, and the set can only
// grow by cabinets that carry the next iCabinet, so it ends.
#include "engine/cabinet/cab_reader.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "codecs/exceptions.h"
#include "engine/cabinet/cab_format.h"
#include "engine/cabinet/cab_methods.h"

namespace tessera::cab {
namespace {

struct FolderRecord {
    uint32_t dataOffset;
    uint16_t blocks;
    uint16_t type;
};

struct FileRecord {
    uint32_t size;
    uint32_t folderOffset;
    uint16_t folder;
    uint16_t date, time, attribs;
    std::string name;
};

struct Cabinet {
    std::string path;
    uint16_t flags = 0;
    uint16_t setID = 0, iCabinet = 0;
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0, dataReserve = 0;
    std::string prevName, prevDisk, nextName, nextDisk;
    std::vector<FolderRecord> folders;
    std::vector<FileRecord> files;
    bool continuesToNext = false;  // its last folder goes on in the next cabinet
    bool continuesFromPrev = false;  // its first folder began in an earlier one

    bool FileFromPrev(const FileRecord& f) const {
        return f.folder == kFolderContinuedFromPrev || f.folder == kFolderContinuedPrevAndNext;
    }
};

}  // namespace

struct CabReader::Impl {
    Impl(const ReaderCallbacks& callbacks, ErrorRecord* record)
        : cb(callbacks), err(record), memory(callbacks.allocate, callbacks.free, callbacks.context),
          blockIn(&memory), blockOut(&memory) {}
    ~Impl() {
        CloseData();
        if (decoder) DestroyDecompressor(decoder);
    }

    ReaderCallbacks cb;
    ErrorRecord* err;
    CallbackMemory memory;

    NotifyCallback notify = nullptr;
    void* notifyContext = nullptr;
    char folderBuffer[kMaxPath] = {};
    std::vector<std::unique_ptr<Cabinet>> set;

    MethodContext* decoder = nullptr;
    uint16_t decoderType = 0;
    std::pmr::vector<uint8_t> blockIn, blockOut;

    FileHandle data = -1;
    size_t dataCabinet = 0;

    struct Cursor {
        bool valid = false;
        size_t startCabinet = 0, startFolder = 0;  // where the folder begins
        size_t cabinet = 0, folder = 0;            // the piece being read
        uint32_t blocksLeft = 0;
        uint32_t dataOffset = 0;
        uint16_t type = 0;
        uint64_t outStart = 0;  // folder offset of blockOut[0]
        uint32_t outLength = 0;
    } cursor;

    bool Fail(int kind, int detail = 0) {
        err->kind = kind;
        err->detail = detail;
        err->error = true;
        return false;
    }

    void CloseData() {
        if (data != -1) cb.close(cb.context, data);
        data = -1;
    }

    // RAII for a handle that only lives while headers are read.
    struct Handle {
        Impl& impl;
        FileHandle h;
        ~Handle() {
            if (h != -1) impl.cb.close(impl.cb.context, h);
        }
    };

    bool ReadExact(FileHandle h, void* buffer, uint32_t size) {
        if (size == 0) return true;
        int32_t n = cb.read(cb.context, h, buffer, size);
        return n >= 0 && static_cast<uint32_t>(n) == size;
    }
    bool SeekTo(FileHandle h, uint32_t offset) {
        if (offset > 0x7FFFFFFFu) return false;
        return cb.seek(cb.context, h, static_cast<int32_t>(offset), kSeekSet) != -1;
    }

    bool CheckHeader(const uint8_t* h, CabinetInfo* info) {
        if (std::memcmp(h, "MSCF", 4) != 0) return Fail(kErrorNotACabinet);
        if (h[24] != kVersionMinor || h[25] != kVersionMajor) return Fail(kErrorUnknownVersion, h[25] << 8 | h[24]);
        info->cbCabinet = Get32(h + 8);
        info->cFolders = Get16(h + 26);
        info->cFiles = Get16(h + 28);
        uint16_t flags = Get16(h + 30);
        info->setID = Get16(h + 32);
        info->iCabinet = Get16(h + 34);
        info->hasPrev = flags & kFlagPrevCabinet;
        info->hasNext = flags & kFlagNextCabinet;
        info->hasReserve = flags & kFlagReserve;
        return true;
    }

    // Sequential reading of the header area with a small buffer.
    struct Stream {
        Impl& impl;
        FileHandle h;
        uint8_t buffer[4096];
        uint32_t next = 0, end = 0;
        uint32_t offset = 0;  // cabinet offset of buffer[end]

        bool Fill() {
            int32_t n = impl.cb.read(impl.cb.context, h, buffer, sizeof(buffer));
            if (n <= 0) return false;
            next = 0;
            end = static_cast<uint32_t>(n);
            offset += end;
            return true;
        }
        bool Read(void* out, uint32_t size) {
            auto* o = static_cast<uint8_t*>(out);
            while (size) {
                if (next == end && !Fill()) return false;
                uint32_t n = end - next < size ? end - next : size;
                std::memcpy(o, buffer + next, n);
                next += n;
                o += n;
                size -= n;
            }
            return true;
        }
        bool String(std::string& s) {
            s.clear();
            for (;;) {
                uint8_t c;
                if (!Read(&c, 1)) return false;
                if (c == 0) return true;
                if (s.size() == kMaxNameLength) return false;
                s.push_back(static_cast<char>(c));
            }
        }
        uint32_t Position() const { return offset - (end - next); }
        bool Skip(uint32_t size) {
            uint32_t buffered = end - next;
            if (size <= buffered) {
                next += size;
                return true;
            }
            return SeekTo(Position() + size);
        }
        bool SeekTo(uint32_t position) {
            if (!impl.SeekTo(h, position)) return false;
            next = end = 0;
            offset = position;
            return true;
        }
    };

    bool LoadCabinet(const std::string& path, Cabinet& cab) {
        Handle file{*this, cb.open(cb.context, path.c_str())};
        if (file.h == -1) return Fail(kErrorCabinetNotFound);
        cab.path = path;
        std::unique_ptr<Stream> s(new (std::nothrow) Stream{*this, file.h, {}, 0, 0, 0});
        if (!s) return Fail(kErrorOutOfMemory);
        if (!s->SeekTo(0)) return Fail(kErrorCorruptCabinet);
        uint8_t h[kHeaderSize];
        if (!s->Read(h, kHeaderSize)) return Fail(kErrorNotACabinet);
        CabinetInfo info;
        if (!CheckHeader(h, &info)) return false;
        if (info.cFolders == 0 || info.cFiles == 0) return Fail(kErrorCorruptCabinet);
        cab.flags = Get16(h + 30);
        cab.setID = info.setID;
        cab.iCabinet = info.iCabinet;
        uint32_t coffFiles = Get32(h + 16);
        TESSERA_TRY {
            if (info.hasReserve) {
                uint8_t r[4];
                if (!s->Read(r, 4)) return Fail(kErrorCorruptCabinet);
                cab.headerReserve = Get16(r);
                cab.folderReserve = r[2];
                cab.dataReserve = r[3];
                if (!s->Skip(cab.headerReserve)) return Fail(kErrorCorruptCabinet);
            }
            if (info.hasPrev && (!s->String(cab.prevName) || !s->String(cab.prevDisk))) return Fail(kErrorCorruptCabinet);
            if (info.hasNext && (!s->String(cab.nextName) || !s->String(cab.nextDisk))) return Fail(kErrorCorruptCabinet);
            for (uint32_t i = 0; i < info.cFolders; ++i) {
                uint8_t f[kFolderSize];
                if (!s->Read(f, kFolderSize) || !s->Skip(cab.folderReserve)) return Fail(kErrorCorruptCabinet);
                cab.folders.push_back({Get32(f), Get16(f + 4), Get16(f + 6)});
            }
            if (!s->SeekTo(coffFiles)) return Fail(kErrorCorruptCabinet);
            for (uint32_t i = 0; i < info.cFiles; ++i) {
                uint8_t f[kFileSize];
                FileRecord r;
                if (!s->Read(f, kFileSize) || !s->String(r.name)) return Fail(kErrorCorruptCabinet);
                r.size = Get32(f);
                r.folderOffset = Get32(f + 4);
                r.folder = Get16(f + 8);
                r.date = Get16(f + 10);
                r.time = Get16(f + 12);
                r.attribs = Get16(f + 14);
                if (r.folder == kFolderContinuedToNext || r.folder == kFolderContinuedPrevAndNext)
                    cab.continuesToNext = info.hasNext;
                if (cab.FileFromPrev(r)) cab.continuesFromPrev = info.hasPrev;
                cab.files.push_back(std::move(r));
            }
        } TESSERA_CATCH(const std::bad_alloc&) {
            return Fail(kErrorOutOfMemory);
        }
        return true;
    }

    intptr_t Notify(int kind, NotificationData& d) { return notify(notifyContext, kind, &d); }

    bool NotifyCabinetInfo(const Cabinet& c) {
        NotificationData d;
        d.name = c.nextName.c_str();
        d.disk = c.nextDisk.c_str();
        d.cabinetFolder = folderBuffer;
        d.setID = c.setID;
        d.iCabinet = c.iCabinet;
        if (Notify(kNotifyCabinetInfo, d) == -1) return Fail(kErrorUserAbort);
        folderBuffer[kMaxPath - 1] = 0;
        return true;
    }

    // Opens the cabinet after set[k], asking through the next-cabinet
    // notification; a failed attempt is announced with its error kind and
    // retried while the callback answers 0, at most kMaxNextCabinetAttempts
    // times.
    bool LoadNext(size_t k) {
        const Cabinet& prev = *set[k];
        int lastError = kErrorNone;
        for (int attempt = 0; attempt < kMaxNextCabinetAttempts; ++attempt) {
            NotificationData d;
            d.name = prev.nextName.c_str();
            d.disk = prev.nextDisk.c_str();
            d.cabinetFolder = folderBuffer;
            d.setID = prev.setID;
            d.iCabinet = static_cast<uint16_t>(prev.iCabinet + 1);
            d.errorKind = lastError;
            if (Notify(kNotifyNextCabinet, d) == -1) return Fail(kErrorUserAbort);
            folderBuffer[kMaxPath - 1] = 0;
            std::unique_ptr<Cabinet> next(new (std::nothrow) Cabinet);
            if (!next) return Fail(kErrorOutOfMemory);
            if (!LoadCabinet(std::string(folderBuffer) + prev.nextName, *next)) {
                if (err->kind == kErrorOutOfMemory) return false;
                lastError = err->kind;
                continue;
            }
            if (next->setID != prev.setID || next->iCabinet != prev.iCabinet + 1 || !(next->flags & kFlagPrevCabinet)) {
                lastError = kErrorWrongCabinet;
                continue;
            }
            if (next->folderReserve != prev.folderReserve || next->dataReserve != prev.dataReserve) {
                lastError = kErrorReserveMismatch;
                continue;
            }
            *err = ErrorRecord{};
            TESSERA_TRY {
                set.push_back(std::move(next));
            } TESSERA_CATCH(const std::bad_alloc&) {
                return Fail(kErrorOutOfMemory);
            }
            return true;
        }
        return Fail(lastError);
    }

    bool OpenData(size_t k) {
        if (data != -1 && dataCabinet == k) return true;
        CloseData();
        data = cb.open(cb.context, set[k]->path.c_str());
        if (data == -1) return Fail(kErrorCabinetNotFound);
        dataCabinet = k;
        return true;
    }

    bool SetUpDecoder(uint16_t type) {
        if (decoder && decoderType == type) {
            ResetDecompressor(decoder);
            return true;
        }
        if (decoder) DestroyDecompressor(decoder);
        decoder = nullptr;
        int method = MethodOf(type);
        if (method > kMethodLzx) return Fail(kErrorBadCompressionType);
        uint32_t maxInput = 0;
        MethodResult r = CreateDecompressor(type, &memory, &decoder, &maxInput);
        if (r == MethodResult::kOutOfMemory) return Fail(kErrorOutOfMemory);
        if (r != MethodResult::kOk) return Fail(kErrorDecompressorFailure);
        decoderType = type;
        TESSERA_TRY {
            blockIn.assign(maxInput, 0);
            blockOut.assign(kBlockSize, 0);
        } TESSERA_CATCH(const std::bad_alloc&) {
            DestroyDecompressor(decoder);
            decoder = nullptr;
            return Fail(kErrorOutOfMemory);
        }
        return true;
    }

    bool StartFolder(size_t k, size_t f) {
        cursor.valid = false;
        const FolderRecord& folder = set[k]->folders[f];
        if (!SetUpDecoder(folder.type) || !OpenData(k)) return false;
        cursor = Cursor{true, k, f, k, f, folder.blocks, folder.dataOffset, folder.type, 0, 0};
        return true;
    }

    // Decodes the folder's next block into blockOut.
    bool NextBlock() {
        uint32_t total = 0;
        uint16_t cbUncomp = 0;
        for (;;) {
            while (cursor.blocksLeft == 0) {
                const Cabinet& c = *set[cursor.cabinet];
                if (cursor.folder + 1 != c.folders.size() || !c.continuesToNext) return Fail(kErrorCorruptCabinet);
                if (cursor.cabinet + 1 == set.size() && !LoadNext(cursor.cabinet)) return false;
                ++cursor.cabinet;
                cursor.folder = 0;
                const FolderRecord& next = set[cursor.cabinet]->folders[0];
                if (next.type != cursor.type) return Fail(kErrorCorruptCabinet);
                cursor.blocksLeft = next.blocks;
                cursor.dataOffset = next.dataOffset;
                if (!OpenData(cursor.cabinet)) return false;
            }
            const uint8_t reserveSize = set[cursor.cabinet]->dataReserve;
            uint8_t header[kDataHeaderSize + 255];
            if (!SeekTo(data, cursor.dataOffset) || !ReadExact(data, header, kDataHeaderSize + reserveSize))
                return Fail(kErrorCorruptCabinet);
            uint32_t csum = Get32(header);
            uint16_t cbData = Get16(header + 4);
            cbUncomp = Get16(header + 6);
            if (cbData > blockIn.size() - total) return Fail(kErrorCorruptCabinet);
            if (!ReadExact(data, blockIn.data() + total, cbData)) return Fail(kErrorCorruptCabinet);
            if (csum != 0 && BlockChecksum(blockIn.data() + total, cbData, cbUncomp, header + 8, reserveSize) != csum)
                return Fail(kErrorCorruptCabinet);
            cursor.dataOffset += kDataHeaderSize + reserveSize + cbData;
            --cursor.blocksLeft;
            total += cbData;
            if (cbUncomp != 0) break;  // 0: the first part of a cut block
        }
        if (cbUncomp > kBlockSize) return Fail(kErrorCorruptCabinet);
        if (DecompressBlock(decoder, blockIn.data(), total, blockOut.data(), cbUncomp) != MethodResult::kOk)
            return Fail(kErrorDecompressorFailure);
        cursor.outStart += cursor.outLength;
        cursor.outLength = cbUncomp;
        return true;
    }

    bool Extract(size_t k, size_t f, const FileRecord& file, FileHandle out) {
        if (file.size == 0) return true;
        // The folder begins where the chain of continued folders starts.
        size_t sk = k, sf = f;
        while (sf == 0 && sk > 0 && set[sk]->continuesFromPrev) {
            --sk;
            sf = set[sk]->folders.size() - 1;
        }
        if (!cursor.valid || cursor.startCabinet != sk || cursor.startFolder != sf || file.folderOffset < cursor.outStart) {
            if (!StartFolder(sk, sf)) return false;
        }
        uint64_t position = file.folderOffset;
        const uint64_t end = position + file.size;
        while (position < end) {
            if (position >= cursor.outStart + cursor.outLength) {
                if (!NextBlock()) {
                    cursor.valid = false;
                    return false;
                }
                continue;
            }
            uint32_t offset = static_cast<uint32_t>(position - cursor.outStart);
            uint32_t n = cursor.outLength - offset;
            if (n > end - position) n = static_cast<uint32_t>(end - position);
            int32_t written = cb.write(cb.context, out, blockOut.data() + offset, n);
            if (written < 0 || static_cast<uint32_t>(written) != n) return Fail(kErrorTargetFile);
            position += n;
        }
        return true;
    }

    bool Walk(const char* cabinetName) {
        std::unique_ptr<Cabinet> first(new (std::nothrow) Cabinet);
        if (!first) return Fail(kErrorOutOfMemory);
        if (!LoadCabinet(std::string(folderBuffer) + cabinetName, *first)) return false;
        set.push_back(std::move(first));
        for (size_t k = 0;; ++k) {
            const Cabinet& c = *set[k];
            if (!NotifyCabinetInfo(c)) return false;
            for (const FileRecord& file : c.files) {
                NotificationData d;
                d.name = file.name.c_str();
                d.size = file.size;
                d.date = file.date;
                d.time = file.time;
                d.attribs = file.attribs;
                size_t folder = file.folder == kFolderContinuedToNext ? c.folders.size() - 1 : file.folder;
                bool partial = c.FileFromPrev(file);
                if (!partial && folder >= c.folders.size()) return Fail(kErrorCorruptCabinet);
                // Without the cabinets before it, a continued folder's files
                // cannot be decoded: they count as partial, like the file
                // that began in the previous cabinet.
                if (!partial && k == 0 && folder == 0 && c.continuesFromPrev) partial = true;
                if (partial) {
                    if (k == 0 && Notify(kNotifyPartialFile, d) == -1) return Fail(kErrorUserAbort);
                    continue;
                }
                intptr_t handle = Notify(kNotifyCopyFile, d);
                if (handle == -1) return Fail(kErrorUserAbort);
                if (handle == 0) continue;
                bool ok = Extract(k, folder, file, handle);
                d.handle = handle;
                d.errorKind = ok ? kErrorNone : err->kind;
                intptr_t closed = Notify(kNotifyCloseFile, d);
                if (!ok) return false;
                if (closed == -1) return Fail(kErrorUserAbort);
                if (closed == 0) return Fail(kErrorTargetFile);
            }
            NotificationData e;
            if (Notify(kNotifyEnumerate, e) == -1) return Fail(kErrorUserAbort);
            if (!c.continuesToNext) return true;
            if (k + 1 == set.size() && !LoadNext(k)) return false;
        }
    }
};

std::unique_ptr<CabReader> CabReader::Create(const ReaderCallbacks& callbacks, ErrorRecord* error) {
    *error = ErrorRecord{};
    std::unique_ptr<CabReader> reader(new (std::nothrow) CabReader);
    if (reader) reader->impl_.reset(new (std::nothrow) Impl(callbacks, error));
    if (!reader || !reader->impl_) {
        error->kind = kErrorOutOfMemory;
        error->error = true;
        return nullptr;
    }
    return reader;
}

CabReader::~CabReader() = default;

bool CabReader::IsCabinet(FileHandle file, CabinetInfo* info) {
    *impl_->err = ErrorRecord{};
    uint8_t h[kHeaderSize];
    int32_t n = impl_->cb.read(impl_->cb.context, file, h, kHeaderSize);
    if (n < 0) return impl_->Fail(kErrorCorruptCabinet);
    if (static_cast<uint32_t>(n) != kHeaderSize) return impl_->Fail(kErrorNotACabinet);
    return impl_->CheckHeader(h, info);
}

bool CabReader::CopyFiles(const char* cabinetName, const char* cabinetFolder, NotifyCallback notify, void* context) {
    Impl& m = *impl_;
    *m.err = ErrorRecord{};
    m.notify = notify;
    m.notifyContext = context;
    m.set.clear();
    m.cursor = Impl::Cursor{};
    m.CloseData();
    if (std::strlen(cabinetFolder) >= kMaxPath) return m.Fail(kErrorCabinetNotFound);
    std::strcpy(m.folderBuffer, cabinetFolder);
    bool ok = m.Walk(cabinetName);
    m.CloseData();
    m.set.clear();
    m.cursor = Impl::Cursor{};
    return ok;
}

}  // namespace tessera::cab
