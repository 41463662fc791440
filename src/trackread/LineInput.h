// src/trackread/LineInput.h: the lines of a text track file, each cut to a length no line of the formats
// needs to pass, so that a file without line breaks is read in small memory too.
#pragma once
#include <cstddef>
#include <istream>
#include <string>

namespace zeloro {

class LineInput {
public:
    LineInput(std::istream& in, std::size_t longest) : in_(in), longest_(longest) {}

    // The next line without its CR LF or LF; false at the end of the stream. A longer line gives its first
    // longest bytes and sets Cut.
    bool Next(std::string& line);
    [[nodiscard]] bool Cut() const noexcept { return cut_; }

private:
    std::istream& in_;
    std::size_t longest_;
    bool cut_ = false;
};

}  // namespace zeloro
