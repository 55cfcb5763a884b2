// The format class of TAR archives (".tar").
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CTarFormat : public CCompressFormat {
public:
    CTarFormat();
};
