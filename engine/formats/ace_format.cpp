// The format class of ACE archives (".ace") and self-extracting ACE programs.
#include "formats/ace_format.h"

CAceFormat::CAceFormat() = default;
