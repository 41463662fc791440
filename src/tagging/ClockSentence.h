// src/tagging/ClockSentence.h: a camera clock's offset said as a person says it.
#pragma once
#include <cstdint>
#include <string>

namespace zeloro {

// The offset a run adds to the shot times (positive: the camera is slow) as a sentence: "Die Kamera geht
// 1 min 30 s nach.", "Die Kamera geht 2 h vor.", "Die Kamera geht genau."; days are named from 24 h on
// ("1 Tag 2 h", "3 Tage").
[[nodiscard]] std::string ClockSentence(std::int64_t offsetSeconds);

}  // namespace zeloro
