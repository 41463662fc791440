// src/common/ReasonText.h: why a file or folder could not be used, in the program's language.
#pragma once
#include <string>

namespace zeloro {

// The reasons a user meets for an errno value, in German ("keine Berechtigung", "nicht vorhanden",
// ...); the system's own text for the rest.
[[nodiscard]] std::string ReasonText(int error);

}  // namespace zeloro
