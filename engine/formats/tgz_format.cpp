// The format class of TAR archives inside gzip.
#include "formats/tgz_format.h"

#include "formats/gz_format.h"

#include "win32/com_ptr.h"

#include <new>

CTgzFormat::CTgzFormat() = default;

CTgzFormat::~CTgzFormat() {
    if (m_tempTar[0]) DeleteFileA(m_tempTar);
}

HRESULT CTgzFormat::Unpack() {
    m_unpacked = false;
    if (!m_tempTar[0]) {
        char folder[MAX_PATH];
        DWORD n = GetTempPathA(MAX_PATH, folder);
        if (n == 0 || n >= MAX_PATH || !GetTempFileNameA(folder, "tgz", 0, m_tempTar)) {
            m_tempTar[0] = '\0';
            ReportError(IDS_TEMP_CANNOT_BE_CREATED, SystemErrorText());
            return E_FAIL;
        }
    }
    auto inner = tessera::win32::ComPtr<CGzFormat>::Share(new (std::nothrow) CGzFormat);
    if (!inner) {
        ReportError(IDS_OUT_OF_MEMORY);
        return E_OUTOFMEMORY;
    }
    CGzFormat& gz = *inner.get();
    gz.SetFormatId(m_formatId);
    gz.SetArchivePath(m_archivePath);
    gz.SetPromptHandler(m_prompts);
    gz.SetStatusCallback(m_statusProc);
    gz.SetMessageCallback(m_messageProc, m_messageUser);
    HRESULT hr = gz.List(m_owner);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) m_warning = TRUE;
    if (gz.GetEntryCount() != 1) return E_UNEXPECTED;

    char folder[MAX_PATH];
    lstrcpynA(folder, m_tempTar, MAX_PATH);
    *const_cast<char*>(FileNamePart(folder)) = '\0';
    SELHDRSTRUCT selection = {0, 0, m_tempTar};
    hr = gz.Extract(m_owner, OVERWRITE_ALL, FALSE, FALSE, folder, &selection, 1);
    if (FAILED(hr)) return hr;
    // A damaged member (reported by the inner object) leaves no TAR to read.
    if (!gz.DecodedCleanly()) return E_FAIL;
    if (hr == S_FALSE) m_warning = TRUE;
    m_unpacked = true;
    return S_OK;
}

HRESULT CTgzFormat::OnTemporaryTar(HRESULT (CTarFormat::*walk)()) {
    char archive[MAX_PATH];
    lstrcpynA(archive, m_archivePath, MAX_PATH);
    lstrcpynA(m_archivePath, m_tempTar, MAX_PATH);
    HRESULT hr = (this->*walk)();
    lstrcpynA(m_archivePath, archive, MAX_PATH);
    return hr;
}

HRESULT CTgzFormat::DoList() {
    FreeEntries();
    HRESULT hr = Unpack();
    if (FAILED(hr)) return hr;
    return OnTemporaryTar(&CTgzFormat::ListTar);
}

HRESULT CTgzFormat::DoExtract() {
    if (!m_unpacked || GetFileAttributesA(m_tempTar) == INVALID_FILE_ATTRIBUTES) {
        HRESULT hr = Unpack();
        if (FAILED(hr)) return hr;
    }
    return OnTemporaryTar(&CTgzFormat::ExtractTar);
}
