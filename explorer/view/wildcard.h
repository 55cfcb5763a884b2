// WildcardMatch: the file-name patterns of Select Group. "?" one character,
// "*" any run, "[...]" a set ("!" or "^" first negates, a-z ranges, "\"
// escapes), "\" escapes outside a set. A pattern ending in "*.*" also
// matches names without an extension; one ending in "*." matches only
// names without a ".".
#pragma once

namespace tesview {

bool WildcardMatch(const char* name, const char* pattern, bool ignoreCase);

}  // namespace tesview
