// The format class of ARJ archives (".arj") and self-extracting ARJ programs.
#include "formats/arj_format.h"

CArjFormat::CArjFormat() = default;
