// fuzz/XmlDateTimeFuzz.cpp: the date-time conversion of GPX time texts, with and without local bias.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/Error.h"
#include "xml/XmlDateTime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool bias : {false, true}) {
        try {
            (void)zeloro::DateTimeFromText(text, bias);
        } catch (const zeloro::Error&) {
        }
    }
    (void)zeloro::StrToIntLenient(text);
    return 0;
}
