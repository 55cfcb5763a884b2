// The format class of gzip files (".gz", ".z"), and ".tgz"/".taz" opened as their single member.
#include "formats/gz_format.h"

CGzFormat::CGzFormat() = default;
