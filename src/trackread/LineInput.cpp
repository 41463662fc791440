// src/trackread/LineInput.cpp
#include "trackread/LineInput.h"

namespace zeloro {

bool LineInput::Next(std::string& line) {
    line.clear();
    cut_ = false;
    std::streambuf* buffer = in_.rdbuf();
    if (buffer == nullptr) {
        return false;
    }
    bool any = false;
    for (;;) {
        const auto c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            break;
        }
        any = true;
        if (c == '\n') {
            break;
        }
        if (line.size() < longest_) {
            line += static_cast<char>(c);
        } else {
            cut_ = true;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return any;
}

}  // namespace zeloro
