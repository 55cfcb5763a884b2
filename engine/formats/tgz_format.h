// The format class of TAR archives inside gzip (".tgz", ".taz"). The gzip
// file is unpacked once into a temporary TAR file, which every later
// listing and extraction of this object reads; it is deleted with the object.
#pragma once

#include "formats/tar_format.h"

class CTgzFormat : public CTarFormat {
public:
    CTgzFormat();
    ~CTgzFormat() override;

    HRESULT DoList() override;
    HRESULT DoExtract() override;

private:
    // Unpacks the archive into m_tempTar through a gzip object that reports
    // through this object's callbacks.
    HRESULT Unpack();
    // Runs a TAR walk with the archive path switched to the temporary file.
    HRESULT OnTemporaryTar(HRESULT (CTarFormat::*walk)());

    char m_tempTar[MAX_PATH] = {};  // empty until the first listing
    bool m_unpacked = false;        // m_tempTar holds this archive's TAR
};
