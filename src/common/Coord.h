// src/common/Coord.h: the result of a track lookup.
#pragma once
#include <string>

#include "common/DateTime.h"

namespace zeloro {

struct TCoord {
    bool found = false;
    std::string lat;  // the stored coordinate texts, exactly as the GPX file wrote them
    std::string lon;
    std::string gps_lt_dr;  // "N" or "S"
    long double gps_lt_dg = 0;
    long double gps_lt_mm = 0;
    long double gps_lt_ss = 0;
    std::string gps_ln_dr;  // "E" or "W"
    long double gps_ln_dg = 0;
    long double gps_ln_mm = 0;
    long double gps_ln_ss = 0;
    DateTimeValue utctime = 0;
};

}  // namespace zeloro
