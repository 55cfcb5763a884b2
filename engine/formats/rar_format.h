// The format class of RAR archives (".rar") and self-extracting RAR programs.
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CRarFormat : public CCompressFormat {
public:
    CRarFormat();
};
