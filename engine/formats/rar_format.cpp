// The format class of RAR archives (".rar") and self-extracting RAR programs.
#include "formats/rar_format.h"

CRarFormat::CRarFormat() = default;
