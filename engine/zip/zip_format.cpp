// The format class of ZIP archives (".zip") and self-extracting ZIP programs (".exe").
#include "zip/zip_format.h"

CZipFormat::CZipFormat() = default;
