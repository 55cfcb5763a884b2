// Small pieces every read-only format class of this folder needs in the
// same form: sizes for the entry list and the display form of stored names.
#pragma once

#include "core/compress_format.h"

#include <cstdint>

// An entry size for the entry list: sizes that do not fit become SIZE_UNKNOWN.
inline DWORD ClampSize(uint64_t size) { return size >= SIZE_UNKNOWN ? SIZE_UNKNOWN : static_cast<DWORD>(size); }

// GetText kind 3 of the read-only formats: OEM to ANSI, one trailing
// backslash dropped, and with `slashes` '/' turned into '\' (formats whose
// names carry '/' separators). E_INVALIDARG for an empty name, E_FAIL when
// the result would not fit a path.
HRESULT ConvertStoredName(LPCSTR name, LPSTR buffer, bool slashes);
