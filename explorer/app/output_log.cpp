#include "output_log.h"

namespace tessera {

void CALLBACK OutputLog::Callback(ICompressFormat*, LPARAM user, LPCSTR text) {
    reinterpret_cast<OutputLog*>(user)->Append(text);
}

}  // namespace tessera
