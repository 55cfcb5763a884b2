// OutputLog: the lines an archive operation reports through the object's
// message callback, kept for the Output window.
#pragma once

#include "tescore.h"

#include <string>

namespace tessera {

class OutputLog {
public:
    void Clear() { text_.clear(); }
    void Append(const char* text) {
        if (text) text_ += text;
    }
    const std::string& Text() const { return text_; }
    bool HasText() const { return !text_.empty(); }

    // MESSAGEPROC of ICompressFormat::SetMessageCallback; user is the log.
    static void CALLBACK Callback(ICompressFormat* object, LPARAM user, LPCSTR text);

private:
    std::string text_;
};

}  // namespace tessera
