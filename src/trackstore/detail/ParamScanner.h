// src/trackstore/detail/ParamScanner.h: the named parameters of a statement text.
#pragma once
#include <string>
#include <vector>

#include "trackstore/Database.h"

namespace zeloro {

// The ":name" parameters of a statement text in order of appearance, each name once (letter case
// ignored). Quoted texts, quoted identifiers and comments are skipped, so a colon inside them is no
// parameter.
[[nodiscard]] std::vector<Param> parseParams(const std::string& sql);

}  // namespace zeloro
