// The format class of ACE archives (".ace") and self-extracting ACE programs:
// listing (with entry comments and entries continued over volumes), testing
// and extraction (solid archives and volume sets included), the archive
// comment, and turning an archive into a self-extracting program and back.
// It writes no ACE data.
//
// The header walk, the volume names and the decoder are the portable ones of
// formats/ace; this class supplies the volumes as files, asks for a missing
// volume through the engine's prompts, and maps the reader's results onto the
// engine's messages and result codes.
#pragma once

#include "formats/decoding_format.h"

#include <memory>
#include <string>

#include "formats/ace/ace_archive.h"

class CAceFormat : public CDecodingFormat {
public:
    CAceFormat();
    ~CAceFormat() override;

    // Kind 3: the stored name from OEM to ANSI without a trailing backslash;
    // kind 4: a comment unchanged. Other kinds: empty text, E_FAIL.
    HRESULT STDMETHODCALLTYPE GetText(int kind, DWORD_PTR value, LPSTR buffer) override;

    HRESULT DoList() override;
    HRESULT DoCheck(BOOL* result) override;
    HRESULT DoExtract() override;
    HRESULT DoTest() override;
    HRESULT DoGetComment(LPSTR buffer, DWORD size) override;
    HRESULT DoRemoveEXE(LPCSTR newArchivePath) override;
    HRESULT DoMakeEXE(LPCSTR newProgramPath, const void* module, DWORD moduleSize) override;

    // Opens volume `index` (0 = the first) of the set and makes it the
    // archive path. The first volume's failure is reported (4102); a later
    // one is asked for with Retry/Cancel (20500) until it opens or the user
    // cancels. Null when there is no volume.
    virtual std::unique_ptr<tessera::RandomAccessInput> OpenVolume(const std::string& name, unsigned index);

private:
    class Opener;

    // Makes the operation's archive path follow the volumes of the set; the
    // returned guard restores the first volume's name and closes the file.
    auto FollowVolumes();
    // An opened volume as the reader's input.
    std::unique_ptr<tessera::RandomAccessInput> ReadingVolume(tessera::win32::FileHandle file);
    // Opens the first volume and finds the main header; reports 4107 (not
    // while checking), 4102 or 4103.
    HRESULT OpenFirstVolume(tessera::ace::AceArchiveReader& reader, bool checking);
    HRESULT ListAce();
    // The shared routine of DoExtract and DoTest.
    HRESULT ExtractOrTest();
    // How a selected entry's decoding went.
    EntryReport Report(const tessera::ace::AceEntry& entry, const tessera::ace::AceEntryOutcome& outcome);
    // Reports a walk that ended otherwise than at the end of the archive.
    void ReportWalkStatus(tessera::ace::AceStatus status);
    // MakeEXE/RemoveEXE: module (may be empty) + archive from its main header.
    HRESULT WriteArchiveCopy(LPCSTR target, const void* module, DWORD moduleSize);
    bool DecoderReady();

    std::unique_ptr<tessera::ace::AceDecoder> m_decoder;  // its dictionary lives as long as the object
    char m_firstVolume[MAX_PATH] = {};  // archive path of the operation's first volume
    DWORD m_readError = 0;              // system error of the last failed read
};
