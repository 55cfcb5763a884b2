// The format class of cabinet files (".cab") and self-extracting cabinets.
#include "formats/cab_format.h"

CCabFormat::CCabFormat() = default;
