// Lets test failures show a codec result by name.
#pragma once

#include <ostream>

#include "codecs/codec_result.h"

namespace tessera {

inline void PrintTo(CodecResult result, std::ostream* os) {
    *os << CodecResultText(result) << " (" << static_cast<int>(result) << ")";
}
inline std::ostream& operator<<(std::ostream& os, CodecResult result) {
    PrintTo(result, &os);
    return os;
}

}  // namespace tessera
