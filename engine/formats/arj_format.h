// The format class of ARJ archives (".arj") and self-extracting ARJ programs.
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CArjFormat : public CCompressFormat {
public:
    CArjFormat();
};
