// The format class of TAR archives inside gzip (".tgz", ".taz").
#include "formats/tgz_format.h"

CTgzFormat::CTgzFormat() = default;
