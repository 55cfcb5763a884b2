// The format class of TAR archives (".tar").
#include "formats/tar_format.h"

CTarFormat::CTarFormat() = default;
