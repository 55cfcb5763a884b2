// The archive comment page of the property sheet: the comment in a
// multi-line edit with its character count, written back on Apply when the
// format can store one.
#pragma once

#include "tescore.h"
#include "win32/com_ptr.h"

#include <prsht.h>

namespace tesshell {

// A page for `archive` (made without an owner window), holding `extension`
// and the server's object count until the sheet releases the page. Null
// when the page cannot be made.
HPROPSHEETPAGE CreateCommentPage(IUnknown* extension, tessera::win32::ComPtr<ICompressFormat> archive);

}  // namespace tesshell
