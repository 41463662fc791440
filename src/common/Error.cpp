// src/common/Error.cpp: messages that carry the text they are about.
#include "common/Error.h"

namespace zeloro {

std::string FillMessage(std::string_view format, std::string_view text) {
    const std::size_t at = format.find("%s");
    std::string message;
    message.reserve(format.size() + text.size());
    if (at == std::string_view::npos) {
        return message.append(format);
    }
    return message.append(format.substr(0, at)).append(text).append(format.substr(at + 2));
}

ConvertError InvalidValueError(std::string_view format, std::string_view text) {
    return ConvertError(FillMessage(format, text));
}

}  // namespace zeloro
