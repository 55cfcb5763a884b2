// The format class of ACE archives over the portable ACE reader.
//
// Choices that go beyond a plain reading of the format:
//   - an entry that cannot be decoded here (encrypted, a method other than
//     stored and LZ77, a dictionary larger than ours) is skipped with a
//     reason and counted as unsupported; the other entries are still
//     extracted, and the operation ends with S_FALSE, never S_OK;
//   - every entry failure (damage, checksum, a volume that does not
//     continue) makes the hook answer S_FALSE even when no message callback
//     is installed, because ReportError alone does not raise the warning
//     flag;
//   - in a solid archive every entry up to the last selected one is decoded
//     (without output when not wanted) to keep the dictionary in step; once
//     an entry fails, the reader refuses the later ones rather than decode
//     them from a stale dictionary; non-solid archives pass over entries
//     nobody asked for;
//   - the listing is sized by what the archive holds (no fixed entry limit),
//     and entry comments are kept whole up to a budget, after which they are
//     cut to their packed size so memory stays bounded by the file;
//   - a walk that ends at a damaged or truncated header is reported.
#include "formats/ace_format.h"

#include "core/file_io.h"
#include "core/long_path.h"
#include "core/module.h"
#include "core/name_text.h"
#include "core/registry.h"
#include "formats/format_support.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

using tessera::ace::AceArchiveReader;
using tessera::CodecResult;
using tessera::CodecResultText;
using tessera::ace::AceDecoder;
using tessera::ace::AceEntry;
using tessera::ace::AceEntryOutcome;
using tessera::ace::AceFileHeader;
using tessera::ace::AceHeaderWalk;
using tessera::ace::AceMainHeader;
using tessera::ace::AceStatus;
using tessera::ace::AceStatusText;
using tessera::RandomAccessInput;

namespace {

constexpr DWORD kSfxModule = 110;
constexpr DWORD kSfxModuleAlternative = 111;
constexpr unsigned kDictionaryBits = 20;   // 1 MiB, halved while memory is short
constexpr size_t kCommentBudget = 4u << 20;  // decoded entry comments kept whole per listing

const char* MethodName(uint8_t techType) { return techType == 0 ? "stored" : "LZ77"; }

}  // namespace

// ---------------------------------------------------------------------------
// Volumes as files

class CAceFormat::Opener final : public tessera::ace::AceVolumeOpener {
public:
    explicit Opener(CAceFormat& format) : format_(format) {}
    std::unique_ptr<RandomAccessInput> OpenVolume(const std::string& name, unsigned index) override {
        return format_.OpenVolume(name, index);
    }

private:
    CAceFormat& format_;
};

// The archive path follows the volumes while a set is read and is the first
// volume's name again when the operation ends.
auto CAceFormat::FollowVolumes() {
    lstrcpynA(m_firstVolume, m_archivePath, MAX_PATH);
    return tessera::win32::OnScopeExit([this] {
        lstrcpynA(m_archivePath, m_firstVolume, MAX_PATH);
        CloseArchiveFile();
    });
}

// A volume for the reader; its read errors reach the reports through m_readError.
std::unique_ptr<RandomAccessInput> CAceFormat::ReadingVolume(tessera::win32::FileHandle file) {
    auto volume = std::make_unique<ArchiveFileInput>(std::move(file));
    volume->CopyErrorTo(&m_readError);
    return volume;
}

std::unique_ptr<RandomAccessInput> CAceFormat::OpenVolume(const std::string& name, unsigned index) {
    if (name.size() >= MAX_PATH) return nullptr;
    lstrcpynA(m_archivePath, name.c_str(), MAX_PATH);
    if (index == 0) {
        if (!OpenArchiveFile()) return nullptr;  // reported (4102)
        tessera::win32::FileHandle file(m_archiveFile);
        m_archiveFile = INVALID_HANDLE_VALUE;
        return ReadingVolume(std::move(file));
    }
    bool logged = false;
    for (;;) {
        HANDLE file = CreateFileA(m_archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return ReadingVolume(tessera::win32::FileHandle(file));
        DWORD error = GetLastError();
        if (m_cancel) return nullptr;
        if (!logged) {  // the log names the volume even when nobody can be asked
            Log(IDS_VOLUME_CANNOT_BE_OPENED, m_archivePath, SystemErrorText(error));
            logged = true;
        }
        // Only the user's Retry tries again; without an owner window the
        // question answers OK, which ends the operation like Cancel.
        if (Ask(IDS_VOLUME_CANNOT_BE_OPENED, MB_RETRYCANCEL | MB_ICONSTOP, m_archivePath, SystemErrorText(error)) !=
            IDRETRY) {
            Cancel();
            return nullptr;
        }
    }
}

// ---------------------------------------------------------------------------
// Object

CAceFormat::CAceFormat() {
    m_sfxModuleId[0] = kSfxModule;
    m_sfxModuleId[1] = kSfxModuleAlternative;
    m_entryFailuresShown = true;
    try {
        m_decoder = std::make_unique<AceDecoder>(kDictionaryBits);
    } catch (const std::bad_alloc&) {
        m_decoder.reset();  // reported by the first operation that needs it
    }
}

CAceFormat::~CAceFormat() = default;

bool CAceFormat::DecoderReady() {
    if (m_decoder && m_decoder->Ready()) return true;
    ReportError(IDS_OUT_OF_MEMORY);
    return false;
}

HRESULT STDMETHODCALLTYPE CAceFormat::GetText(int kind, DWORD_PTR value, LPSTR buffer) {
    if (!buffer) return E_INVALIDARG;
    buffer[0] = '\0';
    LPCSTR text = reinterpret_cast<LPCSTR>(value);
    if (kind == TEXT_PATH) {
        // ACE names keep their own separators; an empty one is no path.
        return SUCCEEDED(::ConvertStoredName(text, buffer, false)) ? S_OK : E_FAIL;
    }
    if (kind == TEXT_COMMENT) {
        if (!text) return E_FAIL;
        lstrcpynA(buffer, text, GETTEXT_BUFFER);
        return S_OK;
    }
    return E_FAIL;
}

HRESULT CAceFormat::OpenFirstVolume(AceArchiveReader& reader, bool checking) {
    m_checkResult = 0;
    switch (reader.Open(m_firstVolume)) {
    case AceStatus::kOk:
        return S_OK;
    case AceStatus::kVolumeMissing:
        return E_FAIL;  // OpenArchiveFile reported it
    case AceStatus::kReadError:
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText(m_readError));
        return E_FAIL;
    default:
        break;
    }
    m_checkResult = 1;  // read, but no archive in it
    if (!checking) ReportNotArchive();
    return E_FAIL;
}

void CAceFormat::ReportWalkStatus(AceStatus status) {
    switch (status) {
    case AceStatus::kOk:
    case AceStatus::kEnd:
        return;
    case AceStatus::kReadError:
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText(m_readError));
        return;
    case AceStatus::kVolumeMissing:
        if (m_cancel) return;  // the user cancelled the volume question
        break;
    default:
        break;
    }
    ReportError(IDS_ARCHIVE_DAMAGED, AceStatusText(status));
}

// ---------------------------------------------------------------------------
// Listing

// Every step runs with the volume guard and the progress guard inside it, so
// running out of memory finds the volumes closed and the progress ended.
HRESULT CAceFormat::DoList() {
    return RunMemoryChecked(false, [this] { return ListAce(); });
}

HRESULT CAceFormat::ListAce() {
    auto volumes = FollowVolumes();
    Opener opener(*this);
    AceArchiveReader reader(opener);
    HRESULT hr = OpenFirstVolume(reader, false);
    if (FAILED(hr)) return hr;

    // The walk may open further volumes (with their prompts), so it runs
    // once; the entries are gathered first and the list sized by them.
    struct Item {
        std::string name;
        std::string comment;
        bool hasComment = false;
        uint64_t packed = 0;
        uint32_t size = 0, time = 0, attributes = 0;
    };
    std::vector<Item> items;
    size_t textBytes = 0, commentBytes = 0;
    std::vector<char> comment(tessera::ace::kAceMaxCommentLength + 1);
    AceEntry entry;
    AceStatus status;
    while (!m_cancel && (status = reader.NextEntry(entry)) == AceStatus::kOk) {
        AceStatus rest = reader.FinishEntry(entry);  // the parts in later volumes
        const AceFileHeader& h = entry.header;
        Item item;
        item.name = tessera::StoredText(h.name, tessera::StoredEncoding::kOem);
        item.packed = entry.packedTotal;
        item.size = h.size;
        item.time = h.time;
        item.attributes = h.attributes;
        if (h.HasComment()) {
            size_t room = std::max(h.packedComment.size(), kCommentBudget - std::min(commentBytes, kCommentBudget));
            size_t capacity = std::min(room, tessera::ace::kAceMaxCommentLength) + 1;
            size_t length = 0;
            tessera::ace::DecodeAceComment(h.packedComment.data(), h.packedComment.size(), comment.data(),
                                           capacity, &length);
            item.comment = tessera::StoredText(comment.data(), length, tessera::StoredEncoding::kOem);  // what decoded before any damage
            item.hasComment = true;
            commentBytes += length;
        }
        textBytes += item.name.size() + item.comment.size() + 2;
        items.push_back(std::move(item));
        if (rest != AceStatus::kOk) {
            status = rest;
            break;
        }
    }
    if (m_cancel) return E_ABORT;

    const DWORD count = static_cast<DWORD>(items.size());
    const size_t perEntry = textBytes / std::max<DWORD>(count, 1) + 2 * 8;  // room for the 8-byte alignment
    if (static_cast<uint64_t>(sizeof(HDRSTRUCT) + perEntry) * std::max<DWORD>(count, 1) > 0x7FFFFFFF) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    hr = AllocEntries(static_cast<DWORD>(perEntry), std::max<DWORD>(count, 1));
    if (FAILED(hr)) return hr;
    for (const Item& item : items) {
        HDRSTRUCT& e = m_entries[m_totals.entries];
        e = HDRSTRUCT();
        e.name = PoolString(item.name.c_str(), static_cast<DWORD>(item.name.size()));
        if (item.hasComment) e.comment = PoolString(item.comment.c_str(), static_cast<DWORD>(item.comment.size()));
        if (!e.name || (item.hasComment && !e.comment)) {
            ReportError(IDS_OUT_OF_MEMORY);
            return E_OUTOFMEMORY;
        }
        e.size = item.size;
        e.packedSize = ClampSize(item.packed);
        e.ratio = ComputeRatio(e.size, e.packedSize);
        e.time = DosTimeToFileTime(item.time);
        e.attributes = item.attributes;
        e.host = e.version = e.method = 0xFFFFFFFF;
        ++m_totals.entries;
        if (item.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            ++m_totals.folders;
        } else {
            m_totals.totalSize += e.size;
            m_totals.totalPacked += e.packedSize;
        }
    }
    TrimPool();
    if (status == AceStatus::kEnd) return S_OK;
    ReportWalkStatus(status);
    if (m_cancel) return E_ABORT;
    return status == AceStatus::kReadError ? E_FAIL : S_FALSE;  // the entries before the damage stay listed
}

HRESULT CAceFormat::DoCheck(BOOL* result) {
    auto volumes = FollowVolumes();
    Opener opener(*this);
    AceArchiveReader reader(opener);
    HRESULT hr = OpenFirstVolume(reader, true);
    *result = SUCCEEDED(hr) ? FALSE : static_cast<BOOL>(m_checkResult);
    return hr;
}

HRESULT CAceFormat::DoGetComment(LPSTR buffer, DWORD size) {
    auto volumes = FollowVolumes();
    Opener opener(*this);
    AceArchiveReader reader(opener);
    HRESULT hr = OpenFirstVolume(reader, false);
    if (FAILED(hr)) return hr;
    if (size == 0) return S_OK;
    buffer[0] = '\0';
    const std::vector<uint8_t>& packed = reader.Main().packedComment;
    if (!reader.Main().HasComment() || packed.empty()) return S_OK;
    std::vector<char> text(tessera::ace::kAceMaxCommentLength + 1);
    size_t length = 0;
    tessera::ace::DecodeAceComment(packed.data(), packed.size(), text.data(), text.size(), &length);
    const std::string shown = tessera::StoredText(text.data(), length, tessera::StoredEncoding::kOem);
    length = std::min<size_t>(shown.size(), size - 1);
    memcpy(buffer, shown.data(), length);
    buffer[length] = '\0';
    return S_OK;
}

// ---------------------------------------------------------------------------
// Extraction and testing

HRESULT CAceFormat::DoExtract() {
    return RunMemoryChecked(false, [this] { return ExtractOrTest(); });
}

HRESULT CAceFormat::DoTest() { return DoExtract(); }

CDecodingFormat::EntryReport CAceFormat::Report(const AceEntry& entry, const AceEntryOutcome& outcome) {
    switch (outcome.input) {
    case AceStatus::kOk: break;
    case AceStatus::kReadError: return EntryReport::WithError(EntryResult::kReadError, nullptr, m_readError);
    case AceStatus::kVolumeMissing:
        if (m_cancel) return EntryReport::Of(EntryResult::kCancelled);  // the user cancelled the volume question
        return EntryReport::WithText(EntryResult::kDamaged, AceStatusText(outcome.input));
    default: return EntryReport::WithText(EntryResult::kDamaged, AceStatusText(outcome.input));
    }
    switch (outcome.codec) {
    case CodecResult::kOk:
        if (outcome.CrcMatches()) return EntryReport::Of(entry.header.IsFolder() ? EntryResult::kFolder : EntryResult::kDone);
        return EntryReport::Checksum(outcome.crcFound, outcome.crcExpected);
    case CodecResult::kBadData: return EntryReport::WithText(EntryResult::kBadData, MethodName(entry.header.techType));
    case CodecResult::kAborted:
        if (m_cancel) return EntryReport::Of(EntryResult::kCancelled);
        break;  // the sink stops only on cancel; anything else is damage
    default: break;
    }
    return EntryReport::WithText(EntryResult::kDamaged, CodecResultText(outcome.codec));
}

HRESULT CAceFormat::ExtractOrTest() {
    auto volumes = FollowVolumes();
    if (!DecoderReady()) return E_OUTOFMEMORY;
    Opener opener(*this);
    AceArchiveReader reader(opener);
    HRESULT hr = OpenFirstVolume(reader, false);
    if (FAILED(hr)) return hr;

    const bool solid = reader.Main().IsSolid();
    const bool testing = m_op == OP_TEST;
    DWORD wanted = 0;  // selection records to reach before stopping early
    for (DWORD i = 0; !m_allSelected && i < m_selectionCount; ++i)
        if (m_selection[i].index != SEL_UNUSED) ++wanted;

    Progress(kProgressBegin, m_allSelected ? m_totals.totalSize : solid ? m_bytesUpToLast : m_bytesSelected);
    auto endProgress = tessera::win32::OnScopeExit([this] { Progress(kProgressEnd, 0); });

    DWORD errors = 0, unsupported = 0, reached = 0;
    AceStatus status = AceStatus::kEnd;
    AceStatus reportedStop = AceStatus::kOk;  // a volume failure already reported with its entry
    // A wrong checksum leaves a solid run's dictionary wrong as well: the
    // entries after it are refused like those after undecodable data.
    auto decode = [&](AceEntry& e, EntrySink& s) {
        AceEntryOutcome outcome = reader.DecodeEntry(*m_decoder, e, &s);
        if (solid && !outcome.encrypted && outcome.codec == CodecResult::kOk &&
            outcome.input == AceStatus::kOk && !outcome.CrcMatches())
            m_decoder->MarkStale();
        return outcome;
    };
    AceEntry entry;
    while (!m_cancel && (m_allSelected || reached < wanted)) {
        status = reader.NextEntry(entry);
        if (status != AceStatus::kOk) break;
        const AceFileHeader& h = entry.header;
        const std::string name = tessera::StoredText(h.name, tessera::StoredEncoding::kOem);
        EntrySink quiet(*this, false);
        if (!IsSelected(name.c_str())) {
            // Nobody asked for it: a solid archive still needs it decoded.
            if (solid) decode(entry, quiet);
            continue;
        }
        ++reached;

        char shown[MAX_PATH];
        bool named = SUCCEEDED(GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>(name.c_str()), shown));
        if (!named) lstrcpynA(shown, name.c_str(), 64);
        EntryReport refusal;
        if (h.IsEncrypted())
            refusal = EntryReport::Of(EntryResult::kEncrypted);
        else if (!h.IsFolder() && h.techType > 1)
            refusal = EntryReport::WithValue(EntryResult::kUnknownMethod, h.techType);
        else if (!h.IsFolder() && h.techType == 1 && !m_decoder->FitsDictionary(h.techParm))
            refusal = EntryReport::Of(EntryResult::kNoMemory);
        else if (!named)
            refusal = EntryReport::WithValue(EntryResult::kUnsafeName, name.size() >= MAX_PATH ? 1 : 0);
        if (refusal.result != EntryResult::kDone) {
            ReportEntry(shown, refusal);
            ++unsupported;
            Progress(kProgressAdvance, h.size);
            if (solid) decode(entry, quiet);  // the reader notes the gap
            continue;
        }

        bool output = BeginEntryOutput(name.c_str(), DosTimeToFileTime(h.time), h.attributes, h.size,
                                       static_cast<LPCSTR>(m_currentDetail));
        if (m_cancel) break;
        if (!output && !solid) {
            Progress(kProgressAdvance, h.size);  // its outcome is noted
            continue;
        }
        // The output file is made with the first decoded piece; a failed
        // write is reported there and the entry still decoded, so a
        // solid run stays in step.
        EntrySink sink(*this, output && !testing && !h.IsFolder());
        AceEntryOutcome outcome = decode(entry, sink);
        const bool fileOpen = m_outputFile != INVALID_HANDLE_VALUE;
        sink.Close(outcome.input == AceStatus::kOk && outcome.codec == CodecResult::kOk);
        if (m_cancel && fileOpen) tessera::DeleteFileAt(m_outputPath);  // a partly written file is no use
        if (m_cancel) break;
        if (!output) continue;  // decoded only to keep the solid run in step
        if (ReportEntry(shown, Report(entry, outcome), &sink)) {
            ++errors;
            if (outcome.input != AceStatus::kOk) reportedStop = outcome.input;
        }
    }
    if (m_cancel) return E_ABORT;
    if (status != AceStatus::kOk && status != AceStatus::kEnd && status != reportedStop) {
        ReportWalkStatus(status);
        if (m_cancel) return E_ABORT;
        ++errors;
        NoteDamage();
    }
    ReportTestSummary();
    ReportMissing();
    if (status == AceStatus::kReadError) return E_FAIL;
    return errors || unsupported ? S_FALSE : S_OK;
}

// ---------------------------------------------------------------------------
// Self-extracting programs

HRESULT CAceFormat::WriteArchiveCopy(LPCSTR target, const void* module, DWORD moduleSize) {
    auto volumes = FollowVolumes();
    if (!OpenArchiveFile()) return E_FAIL;
    AceMainHeader main;
    AceStatus found;
    uint64_t fileSize;
    {
        ArchiveFileInput volume(m_archiveFile);
        volume.CopyErrorTo(&m_readError);
        fileSize = volume.Size();
        AceHeaderWalk walk(volume);
        found = walk.FindMainHeader(main);
    }
    if (found == AceStatus::kReadError) {
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText(m_readError));
        return E_FAIL;
    }
    if (found != AceStatus::kOk) {
        ReportNotArchive();
        return E_FAIL;
    }
    // The archive from its main header on: whatever stood in front of it
    // (an older self-extractor module) is left behind.
    const uint64_t count = fileSize - main.start;
    if (count > 0xFFFFFFFFu) {
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText(ERROR_FILE_TOO_LARGE));
        return E_FAIL;
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(main.start);
    if (!SetFilePointerEx(m_archiveFile, at, nullptr, FILE_BEGIN)) {
        ReportError(IDS_ERROR_READING_ARCHIVE, SystemErrorText());
        return E_FAIL;
    }
    Log(IDS_COPYING, FileNamePart(m_archivePath));
    ShowStatus(IDS_COPYING, FileNamePart(m_archivePath));
    tessera::win32::FileHandle out(CreateArchiveFile(target));
    if (!out) return E_FAIL;                     // reported, or declined
    lstrcpynA(m_outputPath, target, sizeof m_outputPath);   // the drive named by a disk-full question
    m_outputFile = out.get();
    Progress(kProgressBegin, static_cast<DWORD>(count));
    bool ok = moduleSize == 0 || WriteOutput(module, moduleSize);
    ok = ok && CopyData(m_archiveFile, out.get(), static_cast<DWORD>(count), m_outputPath[0]);
    Progress(kProgressEnd, 0);
    m_outputFile = INVALID_HANDLE_VALUE;
    out.reset();
    if (!ok) {
        DeleteFileA(target);  // no half-made program or archive stays behind
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CAceFormat::DoMakeEXE(LPCSTR newProgramPath, const void* module, DWORD moduleSize) {
    return WriteArchiveCopy(newProgramPath, module, moduleSize);
}

HRESULT CAceFormat::DoRemoveEXE(LPCSTR newArchivePath) { return WriteArchiveCopy(newArchivePath, nullptr, 0); }
