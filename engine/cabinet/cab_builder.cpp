// The cabinet builder (see cab_builder.h).
//
// Files are packed one after another into the folder's input buffer; every
// 32,768 bytes become one compressed block, which is staged in a temporary
// file for the cabinet being filled. Before a block is staged the exact
// size of the cabinet so far is checked against the maximum (counting the
// records of every file that may still be listed, and room for the next
// cabinet's names); a block that does not fit is cut: its first part,
// with cbUncomp 0, ends this cabinet, the rest opens the next one.
//
// After a cut the continued folder takes no new files: the next file
// opens a new folder, as other cabinet writers do.
//
// Which files a cabinet lists follows from the folder ranges: a piece of a
// folder covers the uncompressed bytes of its complete blocks. A file is
// listed in every cabinet whose piece it overlaps, as continued from the
// previous cabinet when it begins before the piece and as continued in the
// next when it ends after it, so the two cabinets at a cut agree on the
// files they share.
#include "engine/cabinet/cab_builder.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/cabinet/cab_format.h"
#include "engine/cabinet/cab_methods.h"

namespace tessera::cab {
namespace {

struct Block {
    uint16_t cbData;
    uint16_t cbUncomp;
    uint32_t csum;
};

struct FolderPiece {
    uint16_t type = 0;
    std::vector<Block> blocks;
};

struct ListedFile {
    std::string name;
    uint32_t size, offset;
    uint16_t folder;  // index in the cabinet, or a continuation value
    uint16_t date, time, attribs;
    bool continuation;
};

struct FolderFile {
    std::string name;
    uint64_t offset;
    uint64_t size;
    uint16_t date, time, attribs;
};

constexpr uint32_t kNameRoom = 2 * 256;  // the next cabinet's two names, at most

}  // namespace

struct CabBuilder::Impl {
    Impl(const BuilderCallbacks& callbacks, const CabinetParameters& p, ErrorRecord* record)
        : cb(callbacks), params(p), err(record), memory(callbacks.allocate, callbacks.free, callbacks.context),
          input(&memory), output(&memory) {}
    ~Impl() {
        DropTemp();
        DropStage();
        if (compressor) DestroyCompressor(compressor);
    }

    BuilderCallbacks cb;
    CabinetParameters params;
    ErrorRecord* err;
    CallbackMemory memory;
    NextCabinetCallback next = nullptr;
    StatusCallback status = nullptr;

    // The cabinet being filled.
    int cabinetIndex = 0;
    std::string prevName, prevDisk;
    std::vector<FolderPiece> folders;  // the open folder, if any, is last
    std::vector<ListedFile> files;     // of closed folders
    uint64_t fixedBytes = 0;           // records of `files` and the staged blocks
    bool nextNamedForFlush = false;    // FlushCabinet with getNext named the next cabinet
    CabinetParameters nextParams;
    FileHandle temp = -1;
    char tempPath[kMaxPath] = {};
    uint32_t tempSize = 0;

    // Blocks of the file being read wait here until its size is known,
    // which its records in the cabinets need.
    FileHandle stage = -1;
    char stagePath[kMaxPath] = {};
    std::vector<Block> staged;

    // The open folder.
    bool folderOpen = false;
    uint16_t folderType = 0;
    MethodContext* compressor = nullptr;
    uint16_t compressorType = 0xFFFF;
    std::pmr::vector<uint8_t> input, output;
    uint32_t pending = 0;          // bytes in `input`
    uint64_t folderInput = 0;      // bytes fed to the folder
    uint64_t emitted = 0;          // uncompressed bytes of complete blocks
    uint64_t pieceStart = 0;       // folder offset where this cabinet's piece begins
    // A block cut at the end of a cabinet: the folder offset where it ends
    // (0: no cut). Files that begin in it are listed in both cabinets.
    uint64_t cutEnd = 0;
    uint64_t listedUpTo = 0;       // files of the folder beginning below this were listed in the cabinet before
    uint64_t openFileBytes = 0;    // records of folder files that may still be listed here
    bool folderContinued = false;  // the open folder went on from an earlier cabinet
    std::vector<FolderFile> folderFiles;

    bool Fail(int kind) {
        err->kind = kind;
        err->error = true;
        return false;
    }

    static uint32_t RecordSize(const std::string& name) { return kFileSize + static_cast<uint32_t>(name.size()) + 1; }

    uint64_t HeaderBytes() const {
        uint64_t n = kHeaderSize + kNameRoom + kFolderSize * folders.size();
        if (cabinetIndex > 0) n += prevName.size() + prevDisk.size() + 2;
        return n;
    }
    uint64_t CabinetBytes() const { return HeaderBytes() + fixedBytes + openFileBytes; }

    void DropTemp() {
        if (temp != -1) {
            cb.close(cb.context, temp);
            cb.remove(cb.context, tempPath);
        }
        temp = -1;
        tempSize = 0;
    }

    void DropStage() {
        if (stage != -1) {
            cb.close(cb.context, stage);
            cb.remove(cb.context, stagePath);
        }
        stage = -1;
        staged.clear();
    }

    bool Hold(const uint8_t* data, uint32_t cbData, uint16_t cbUncomp) {
        if (stage == -1) {
            if (!cb.tempName(cb.context, stagePath, sizeof(stagePath))) return Fail(kBuildErrorTempFile);
            stage = cb.open(cb.context, stagePath);
            if (stage == -1) return Fail(kBuildErrorTempFile);
        }
        if (staged.empty() && cb.seek(cb.context, stage, 0, kSeekSet) == -1) return Fail(kBuildErrorTempFile);
        if (cbData && cb.write(cb.context, stage, data, cbData) != static_cast<int32_t>(cbData))
            return Fail(kBuildErrorTempFile);
        try {
            staged.push_back({static_cast<uint16_t>(cbData), cbUncomp, 0});
        } catch (const std::bad_alloc&) {
            return Fail(kBuildErrorOutOfMemory);
        }
        return true;
    }

    // Places the held blocks now that every file they hold is complete.
    bool PlaceHeld() {
        if (staged.empty()) return true;
        if (cb.seek(cb.context, stage, 0, kSeekSet) == -1) return Fail(kBuildErrorTempFile);
        for (const Block& b : staged) {
            if (b.cbData && cb.read(cb.context, stage, output.data(), b.cbData) != b.cbData)
                return Fail(kBuildErrorTempFile);
            if (!Emit(output.data(), b.cbData, b.cbUncomp)) return false;
        }
        staged.clear();
        return true;
    }

    bool Stage(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp) {
        if (temp == -1) {
            if (!cb.tempName(cb.context, tempPath, sizeof(tempPath))) return Fail(kBuildErrorTempFile);
            temp = cb.open(cb.context, tempPath);
            if (temp == -1) return Fail(kBuildErrorTempFile);
        }
        if (cbData && cb.write(cb.context, temp, data, cbData) != cbData) return Fail(kBuildErrorTempFile);
        tempSize += cbData;
        try {
            folders.back().blocks.push_back({cbData, cbUncomp, BlockChecksum(data, cbData, cbUncomp, nullptr, 0)});
        } catch (const std::bad_alloc&) {
            return Fail(kBuildErrorOutOfMemory);
        }
        fixedBytes += kDataHeaderSize + cbData;
        return true;
    }

    // Places one compressed block of the open folder, cutting it at the
    // end of a cabinet when it does not fit.
    bool Emit(const uint8_t* data, uint32_t cbData, uint16_t cbUncomp) {
        for (;;) {
            uint64_t size = CabinetBytes();
            if (size + kDataHeaderSize + cbData <= params.maxCabinetSize) {
                if (!Stage(data, static_cast<uint16_t>(cbData), cbUncomp)) return false;
                emitted += cbUncomp;
                return true;
            }
            uint64_t room = params.maxCabinetSize > size + kDataHeaderSize ? params.maxCabinetSize - size - kDataHeaderSize : 0;
            // A first part only where the cabinet lists a file of this
            // piece: it holds data of the folder, or the folder came from
            // the previous cabinet (its file then spans this one).
            const bool continued = pieceStart > 0;
            const bool pieceHasData = emitted > pieceStart;
            if (room > 0 && room < cbData && (pieceHasData || continued)) {
                if (!Stage(data, static_cast<uint16_t>(room), 0)) return false;
                data += room;
                cbData -= static_cast<uint32_t>(room);
                cutEnd = emitted + cbUncomp;
            } else if (!pieceHasData && (continued || files.empty())) {
                return Fail(kBuildErrorCabinetFile);  // the maximum size cannot make progress
            }
            bool finished = FinishCabinet(true);
            cutEnd = 0;
            if (!finished) return false;
        }
    }

    bool SetUpCompressor(uint16_t type) {
        if (compressor && compressorType == type) {
            ResetCompressor(compressor);
            return true;
        }
        if (compressor) DestroyCompressor(compressor);
        compressor = nullptr;
        int method = MethodOf(type);
        if (method != kMethodNone && method != kMethodMszip && method != kMethodLzx)
            return Fail(kBuildErrorBadCompressionType);
        uint32_t maxOutput = 0;
        MethodResult r = CreateCompressor(type, &memory, &compressor, &maxOutput);
        if (r == MethodResult::kOutOfMemory) return Fail(kBuildErrorOutOfMemory);
        if (r == MethodResult::kBadMethod) return Fail(kBuildErrorBadCompressionType);
        if (r != MethodResult::kOk) return Fail(kBuildErrorCompressor);
        compressorType = type;
        try {
            input.assign(kBlockSize, 0);
            output.assign(maxOutput, 0);
        } catch (const std::bad_alloc&) {
            return Fail(kBuildErrorOutOfMemory);
        }
        return true;
    }

    bool OpenFolder(uint16_t type) {
        if (!SetUpCompressor(type)) return false;
        try {
            folders.emplace_back();
        } catch (const std::bad_alloc&) {
            return Fail(kBuildErrorOutOfMemory);
        }
        folders.back().type = type;
        folderOpen = true;
        folderType = type;
        pending = 0;
        folderInput = emitted = pieceStart = openFileBytes = cutEnd = listedUpTo = 0;
        folderContinued = false;
        folderFiles.clear();
        return true;
    }

    bool CompressPending(bool hold) {
        if (pending == 0) return true;
        uint32_t produced = 0;
        MethodResult r = CompressBlock(compressor, input.data(), pending, output.data(),
                                       static_cast<uint32_t>(output.size()), &produced);
        if (r != MethodResult::kOk) return Fail(kBuildErrorCompressor);
        uint16_t uncompressed = static_cast<uint16_t>(pending);
        pending = 0;
        if (!(hold ? Hold(output.data(), produced, uncompressed) : Emit(output.data(), produced, uncompressed)))
            return false;
        if (status && status(cb.context, produced, uncompressed) == -1) return Fail(kBuildErrorUserAbort);
        return true;
    }

    // Files of the open folder this cabinet lists; `end` is the folder
    // offset where its whole blocks end. A file that begins in a block cut
    // at the end of the cabinet is listed here and in the next cabinet,
    // continued, as readers join the two parts of a folder only then.
    bool ListFolderFiles(uint64_t end, bool folderClosed, uint16_t index) {
        const uint64_t listEnd = !folderClosed && cutEnd ? cutEnd : end;
        try {
            for (const FolderFile& f : folderFiles) {
                bool overlaps = f.offset + f.size > pieceStart || f.offset >= pieceStart;
                if (!overlaps || (!folderClosed && f.offset >= listEnd)) continue;
                bool fromPrev = f.offset < listedUpTo;
                if (fromPrev && f.size == 0) continue;  // an empty file was whole in the cabinet before
                bool toNext = !folderClosed && f.offset + f.size > end;
                uint16_t folder = fromPrev && toNext ? kFolderContinuedPrevAndNext
                                  : fromPrev        ? kFolderContinuedFromPrev
                                  : toNext          ? kFolderContinuedToNext
                                                    : index;
                files.push_back({f.name, static_cast<uint32_t>(f.size), static_cast<uint32_t>(f.offset), folder, f.date,
                                 f.time, f.attribs, fromPrev});
            }
        } catch (const std::bad_alloc&) {
            return Fail(kBuildErrorOutOfMemory);
        }
        return true;
    }

    bool CloseFolder() {
        if (!folderOpen) return true;
        if (!PlaceHeld() || !CompressPending(false)) return false;
        folderOpen = false;
        size_t before = files.size();
        if (!ListFolderFiles(emitted, true, static_cast<uint16_t>(folders.size() - 1))) return false;
        for (size_t i = before; i < files.size(); ++i) fixedBytes += RecordSize(files[i].name);
        openFileBytes = 0;
        folderFiles.clear();
        return true;
    }

    bool NameNext() {
        nextParams = params;
        ++nextParams.cabinetNumber;
        nextParams.cabinetName[0] = 0;
        nextParams.diskName[0] = 0;
        if (!next || !next(cb.context, &nextParams, static_cast<uint32_t>(CabinetBytes())))
            return Fail(kBuildErrorUserAbort);
        nextParams.cabinetName[sizeof(nextParams.cabinetName) - 1] = 0;
        nextParams.diskName[sizeof(nextParams.diskName) - 1] = 0;
        return true;
    }

    bool WriteAll(FileHandle h, const void* data, size_t size) {
        return size == 0 || cb.write(cb.context, h, data, static_cast<uint32_t>(size)) == static_cast<int32_t>(size);
    }

    // Writes the cabinet being filled; with `more`, the set goes on and the
    // open folder (if any) continues in the next cabinet.
    bool FinishCabinet(bool more) {
        if (more && !NameNext()) return false;
        const bool hasNext = more || nextNamedForFlush;
        nextNamedForFlush = false;
        // A folder that has not staged a block yet starts in the next cabinet.
        const bool folderMoves = folderOpen && pieceStart == 0 && folders.back().blocks.empty();
        if (folderMoves) folders.pop_back();
        if (folderOpen && !folderMoves &&
            !ListFolderFiles(emitted, false, static_cast<uint16_t>(folders.size() - 1)))
            return false;

        // Layout.
        std::string nextName = hasNext ? nextParams.cabinetName : "";
        std::string nextDisk = hasNext ? nextParams.diskName : "";
        uint32_t headerEnd = kHeaderSize;
        if (cabinetIndex > 0) headerEnd += static_cast<uint32_t>(prevName.size() + prevDisk.size() + 2);
        if (hasNext) headerEnd += static_cast<uint32_t>(nextName.size() + nextDisk.size() + 2);
        uint32_t coffFiles = headerEnd + kFolderSize * static_cast<uint32_t>(folders.size());
        uint32_t dataStart = coffFiles;
        for (const ListedFile& f : files) dataStart += RecordSize(f.name);
        uint64_t total = dataStart;
        for (const FolderPiece& p : folders)
            for (const Block& b : p.blocks) total += kDataHeaderSize + b.cbData;
        if (total > 0x7FFFFFFF) return Fail(kBuildErrorCabinetFile);

        std::string path = std::string(params.cabinetFolder) + params.cabinetName;
        FileHandle out = cb.open(cb.context, path.c_str());
        if (out == -1) return Fail(kBuildErrorCabinetFile);
        bool ok = WriteCabinet(out, headerEnd, coffFiles, dataStart, static_cast<uint32_t>(total), hasNext, nextName,
                               nextDisk);
        if (cb.close(cb.context, out) != 0) ok = false;
        if (!ok) return Fail(kBuildErrorCabinetFile);
        for (const ListedFile& f : files)
            if (cb.filePlaced) cb.filePlaced(cb.context, &params, f.name.c_str(), f.size, f.continuation);

        // The next cabinet: the open folder goes on there.
        files.clear();
        DropTemp();
        fixedBytes = 0;
        if (!hasNext) {
            folders.clear();
            return true;
        }
        prevName = params.cabinetName;
        prevDisk = params.diskName;
        params = nextParams;
        ++cabinetIndex;
        folders.clear();
        if (folderOpen) {
            folders.emplace_back();
            folders.back().type = folderType;
            pieceStart = emitted;
            listedUpTo = cutEnd ? cutEnd : emitted;
            folderContinued = true;
            openFileBytes = 0;
            for (const FolderFile& f : folderFiles)
                if (f.offset + f.size > pieceStart || f.offset >= pieceStart) openFileBytes += RecordSize(f.name);
        }
        return true;
    }

    bool WriteCabinet(FileHandle out, uint32_t headerEnd, uint32_t coffFiles, uint32_t dataStart, uint32_t total,
                      bool hasNext, const std::string& nextName, const std::string& nextDisk) {
        std::vector<uint8_t> head;
        try {
            head.assign(dataStart, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        uint8_t* h = head.data();
        std::memcpy(h, "!CAB", 4);
        Put32(h + 8, total);
        Put32(h + 16, coffFiles);
        h[24] = kVersionMinor;
        h[25] = kVersionMajor;
        Put16(h + 26, static_cast<uint32_t>(folders.size()));
        Put16(h + 28, static_cast<uint32_t>(files.size()));
        uint16_t flags = 0;
        if (cabinetIndex > 0) flags |= kFlagPrevCabinet;
        if (hasNext) flags |= kFlagNextCabinet;
        Put16(h + 30, flags);
        Put16(h + 32, params.setID);
        Put16(h + 34, static_cast<uint32_t>(cabinetIndex));
        uint32_t p = kHeaderSize;
        auto putString = [&](const std::string& s) {
            std::memcpy(h + p, s.c_str(), s.size() + 1);
            p += static_cast<uint32_t>(s.size()) + 1;
        };
        if (cabinetIndex > 0) {
            putString(prevName);
            putString(prevDisk);
        }
        if (hasNext) {
            putString(nextName);
            putString(nextDisk);
        }
        (void)headerEnd;
        uint32_t data = dataStart;
        for (const FolderPiece& f : folders) {
            Put32(h + p, data);
            Put16(h + p + 4, static_cast<uint32_t>(f.blocks.size()));
            Put16(h + p + 6, f.type);
            p += kFolderSize;
            for (const Block& b : f.blocks) data += kDataHeaderSize + b.cbData;
        }
        for (const ListedFile& f : files) {
            Put32(h + p, f.size);
            Put32(h + p + 4, f.offset);
            Put16(h + p + 8, f.folder);
            Put16(h + p + 10, f.date);
            Put16(h + p + 12, f.time);
            Put16(h + p + 14, f.attribs);
            p += kFileSize;
            putString(f.name);
        }
        if (!WriteAll(out, h, head.size())) return false;

        // Blocks: headers from the lists, data copied from the temporary file.
        if (temp != -1 && cb.seek(cb.context, temp, 0, kSeekSet) == -1) return false;
        std::vector<uint8_t> buffer(kMaxCompressedBlock + kDataHeaderSize);
        for (const FolderPiece& f : folders)
            for (const Block& b : f.blocks) {
                Put32(buffer.data(), b.csum);
                Put16(buffer.data() + 4, b.cbData);
                Put16(buffer.data() + 6, b.cbUncomp);
                if (b.cbData && cb.read(cb.context, temp, buffer.data() + kDataHeaderSize, b.cbData) != b.cbData)
                    return false;
                if (!WriteAll(out, buffer.data(), kDataHeaderSize + b.cbData)) return false;
            }
        // Only now the cabinet becomes one.
        if (cb.seek(cb.context, out, 0, kSeekSet) == -1) return false;
        return WriteAll(out, "MSCF", 4);
    }

    bool AddFile(const char* sourcePath, const char* storedName, bool execute, OpenInfoCallback openInfo,
                 uint16_t type) {
        int method = MethodOf(type);
        if (method != kMethodNone && method != kMethodMszip && method != kMethodLzx)
            return Fail(kBuildErrorBadCompressionType);
        if (std::strlen(storedName) > kMaxNameLength) return Fail(kBuildErrorOpenSource);
        // A folder that went on into this cabinet holds only the files that
        // were cut; readers that join the two cabinets' folders expect every
        // file of the continued folder to be listed in both.
        if (folderOpen && (type != folderType || folderInput >= params.folderThreshold || folderContinued) &&
            !CloseFolder())
            return false;
        uint16_t date = 0, time = 0, attribs = 0;
        FileHandle source = openInfo(cb.context, sourcePath, &date, &time, &attribs);
        if (source == -1) return Fail(kBuildErrorOpenSource);
        struct Closer {
            Impl& impl;
            FileHandle h;
            ~Closer() { impl.cb.close(impl.cb.context, h); }
        } closer{*this, source};
        if (execute) attribs |= 0x40;
        // Stored names beyond ASCII are given as UTF-8, which the name
        // attribute announces to readers.
        for (const char* p = storedName; *p; ++p)
            if (static_cast<unsigned char>(*p) >= 0x80) {
                attribs |= 0x80;
                break;
            }
        if (!folderOpen && !OpenFolder(type)) return false;
        try {
            folderFiles.push_back({storedName, folderInput, 0, date, time, attribs});
        } catch (const std::bad_alloc&) {
            return Fail(kBuildErrorOutOfMemory);
        }
        openFileBytes += RecordSize(folderFiles.back().name);
        for (;;) {
            int32_t n = cb.read(cb.context, source, input.data() + pending, kBlockSize - pending);
            if (n < 0) return Fail(kBuildErrorReadSource);
            if (n == 0) break;
            if (folderFiles.back().size + static_cast<uint32_t>(n) > 0xFFFFFFFFull) return Fail(kBuildErrorReadSource);
            pending += static_cast<uint32_t>(n);
            folderInput += static_cast<uint32_t>(n);
            folderFiles.back().size += static_cast<uint32_t>(n);
            if (folderInput > 0xFFFF0000ull) return Fail(kBuildErrorReadSource);  // offsets are 32-bit
            if (pending == kBlockSize && !CompressPending(true)) return false;
        }
        return PlaceHeld();
    }

    bool Flush(bool getNext) {
        if (!CloseFolder()) return false;
        if (files.empty() && folders.empty()) return true;  // nothing added since the last cabinet
        if (getNext) {
            if (!NameNext()) return false;
            nextNamedForFlush = true;
        }
        return FinishCabinet(false);
    }
};

std::unique_ptr<CabBuilder> CabBuilder::Create(const BuilderCallbacks& callbacks, const CabinetParameters& params,
                                               ErrorRecord* error) {
    *error = ErrorRecord{};
    std::unique_ptr<CabBuilder> builder(new (std::nothrow) CabBuilder);
    if (builder) builder->impl_.reset(new (std::nothrow) Impl(callbacks, params, error));
    if (!builder || !builder->impl_) {
        error->kind = kBuildErrorOutOfMemory;
        error->error = true;
        return nullptr;
    }
    return builder;
}

CabBuilder::~CabBuilder() = default;

bool CabBuilder::AddFile(const char* sourcePath, const char* storedName, bool execute, NextCabinetCallback next,
                         StatusCallback status, OpenInfoCallback openInfo, uint16_t typeWord) {
    Impl& m = *impl_;
    if (m.err->error) return false;
    m.next = next;
    m.status = status;
    return m.AddFile(sourcePath, storedName, execute, openInfo, typeWord);
}

bool CabBuilder::FlushCabinet(bool getNext, NextCabinetCallback next, StatusCallback status) {
    Impl& m = *impl_;
    if (m.err->error) return false;
    m.next = next;
    m.status = status;
    return m.Flush(getNext);
}

}  // namespace tessera::cab
