// The format class of ZIP archives (".zip") and self-extracting ZIP programs (".exe").
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CZipFormat : public CCompressFormat {
public:
    CZipFormat();
};
