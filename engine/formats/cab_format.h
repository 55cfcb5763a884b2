// The format class of cabinet files (".cab") and self-extracting cabinets.
// Until its reader lands every hook keeps the base result E_NOTIMPL.
#pragma once

#include "core/compress_format.h"

class CCabFormat : public CCompressFormat {
public:
    CCabFormat();
};
