// Common ground of the decoding format classes. They read through portable
// header walks that take a RandomAccessInput (ArchiveFileInput on this side)
// and decoders that write to a ByteSink; this file supplies the sink that
// drives progress, cancel and the output file, and the small pieces the
// classes would otherwise repeat.
#pragma once

#include "core/compress_format.h"

#include "codecs/byte_io.h"
#include "formats/format_support.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>

class CDecodingFormat : public CCompressFormat {
protected:
    // Where decoded bytes go: every piece advances the progress and is
    // checked against the cancel request; when writing, it goes to the
    // output file, which is created with the first piece, so an entry that
    // fails before producing anything leaves no empty file behind. A failed
    // write (already reported) stops the writing but not the decoding, so a
    // solid chain stays in step; only cancel stops the decoder.
    class EntrySink final : public tessera::ByteSink {
    public:
        EntrySink(CDecodingFormat& format, bool write) : format_(format), write_(write), pending_(write) {}
        ~EntrySink() override { Close(false); }
        bool Write(const uint8_t* data, size_t size) override;
        // Ends the entry: an entry that came out whole but empty still gets
        // its file; an open file gets its time and attributes and is closed.
        void Close(bool whole);
        // Creating or writing the file failed (reported by the core).
        bool WriteFailed() const { return writeFailed_; }

    private:
        bool Create();

        CDecodingFormat& format_;
        bool write_;
        bool pending_;           // the file is still to be created
        bool open_ = false;      // m_outputFile belongs to this entry
        bool writeFailed_ = false;
    };

    // 4107 with the registry's file-type name of this object's format.
    void ReportNotArchive();
    // The display path of a stored name (GetText kind 3), or the stored name
    // cut to fit when it cannot be converted; for log lines.
    void DisplayName(LPCSTR stored, char (&shown)[MAX_PATH]);
    // GetText kind 3 of formats with '/' separators (format_support.h).
    static HRESULT ConvertStoredName(DWORD_PTR value, LPSTR buffer) {
        return ::ConvertStoredName(reinterpret_cast<LPCSTR>(value), buffer, true);
    }
    // Reports a failed read of the archive file (4103); true when it failed.
    bool ReadFailed(const ArchiveFileInput& input);
    // The next entry of the list with its stored name and no host, version
    // or method; null (reported) when the pool has no room for the name.
    HDRSTRUCT* AppendEntry(const std::string& name);
    // Ends an extraction or test begun with the archive file open and the
    // progress running: closes both; then E_ABORT after a cancel, `result`
    // when it failed, otherwise the missing-entry and test reports and S_OK.
    HRESULT EndDecoding(HRESULT result);
    // Fills the entry list from records gathered by a header walk: sizes
    // the pool by the names so that every one fits.
    HRESULT AllocEntriesFor(DWORD count, uint64_t nameBytes);
    // How a selected entry came out. Each format class maps what its walk
    // and decoder said onto one of these once; ReportEntry then writes the
    // one message and notes the outcome count.
    enum class EntryResult {
        kDone,           // decoded and checked (failed after all when its file could not be written)
        kFolder,         // a folder entry made or passed
        kCancelled,      // the user cancelled: nothing to report
        // failures
        kBadChecksum,    // found, expected
        kBadData,        // text: what the message names (the method or the entry)
        kDamaged,        // text: what is damaged; without text the header `value`
        kReadError,      // error: the system error
        kVolumeMissing,  // text: the volume, error: the system error
        // refusals
        kEncrypted,
        kUnknownMethod,  // value: the method or version met
        kNotSupported,   // text: what kind of entry
        kNeedsVersion,   // text: the program, value: the major version needed, supported: ours
        kNoMemory,       // the entry needs more memory than the object has
        kUnsafeName,     // value: nonzero when the path is too long
    };
    struct EntryReport {
        EntryResult result = EntryResult::kDone;
        unsigned long found = 0, expected = 0;
        unsigned value = 0, supported = 0;
        LPCSTR text = nullptr;
        DWORD error = 0;

        static EntryReport Of(EntryResult result) {
            EntryReport r;
            r.result = result;
            return r;
        }
        static EntryReport Checksum(unsigned long found, unsigned long expected) {
            EntryReport r = Of(EntryResult::kBadChecksum);
            r.found = found;
            r.expected = expected;
            return r;
        }
        static EntryReport WithText(EntryResult result, LPCSTR text) {
            EntryReport r = Of(result);
            r.text = text;
            return r;
        }
        static EntryReport WithValue(EntryResult result, unsigned value) {
            EntryReport r = Of(result);
            r.value = value;
            return r;
        }
        static EntryReport WithError(EntryResult result, LPCSTR text, DWORD error) {
            EntryReport r = WithText(result, text);
            r.error = error;
            return r;
        }
    };
    // Logs and counts how a selected entry came out (`shown`: its display
    // name for the skip lines). A done entry whose file failed to be written
    // (`sink`, reported when it happened) counts as failed. True when the
    // entry failed or was refused.
    bool ReportEntry(LPCSTR shown, const EntryReport& report, const EntrySink* sink = nullptr);
    // Entry failures go to the log; with this set they are also shown to
    // the owner window, as the messages of a whole operation are.
    bool m_entryFailuresShown = false;

    // An entry that failed (reported by the caller), and damage outside any
    // one entry (a damaged header, a walk cut short): noted in the outcome
    // counts, and the operation ends with S_FALSE even when no log is
    // attached.
    void EntryFailed();
    void ArchiveDamaged();
    // Progress total of an extraction or test: what a sequential reader
    // passes through.
    DWORD ProgressTotal() const { return m_allSelected ? m_totals.totalSize : m_bytesUpToLast; }

    // Runs a list or decode step. Only the set-up of a step allocates (walk
    // buffers, decoder windows), so running out of memory ends the step with
    // nothing open beyond the archive file, which is closed and reported.
    template <class Step>
    HRESULT RunMemoryChecked(bool decoding, Step step) {
        try {
            return step();
        } catch (const std::bad_alloc&) {
            return EndOutOfMemory(decoding);
        }
    }
    HRESULT EndOutOfMemory(bool decoding);

private:
    bool Refused(SkipReason reason);

protected:

    static FILETIME DosTimeToFileTime(uint32_t dosDateTime);
};
