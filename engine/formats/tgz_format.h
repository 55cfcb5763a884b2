// The format class of TAR archives inside gzip (".tgz", ".taz").
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CTgzFormat : public CCompressFormat {
public:
    CTgzFormat();
};
