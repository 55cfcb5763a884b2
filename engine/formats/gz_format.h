// The format class of gzip files (".gz", ".z"), and ".tgz"/".taz" opened as their single member.
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CGzFormat : public CCompressFormat {
public:
    CGzFormat();
};
