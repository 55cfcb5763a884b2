// The format registry: fifteen constant rows, one per format the engine
// knows, in id order. Self-extracting variants directly follow their plain
// format.
#pragma once

#include "tescore.h"

// The row of a format id, or null when the id is out of range.
const FORMATINFO* FormatRow(DWORD id);

// Extension of a path as the registry compares it: from the last period
// that follows the last slash, backslash or space; "" when there is none.
LPCSTR PathExtension(LPCSTR path);
