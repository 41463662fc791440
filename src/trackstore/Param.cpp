// src/trackstore/Param.cpp: a named parameter of a statement.
#include "trackstore/Database.h"

namespace zeloro {

void Param::SetAsDateTime(DateTimeValue value) {
    value_ = DateTimeText(value);
    set_ = true;
}

}  // namespace zeloro
