// The format class of ACE archives (".ace") and self-extracting ACE programs.
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CAceFormat : public CCompressFormat {
public:
    CAceFormat();
};
