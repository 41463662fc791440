// src/trackstore/Param.cpp: a named parameter of a statement.
#include "trackstore/Database.h"

namespace zeloro {

void Param::SetAsDateTime(DateTimeValue value) {
    // Appended behind the old text, which goes only once the new one stands: the parameter keeps its
    // value when the conversion throws, and its storage for the next point's time.
    const std::size_t old = value_.size();
    AppendDateTimeText(value_, value);
    value_.erase(0, old);
    set_ = true;
}

}  // namespace zeloro
