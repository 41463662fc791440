// src/trackread/TrackPoint.cpp
#include "trackread/TrackPoint.h"

#include <cmath>

namespace zeloro {

bool IsOnGlobe(double latitude, double longitude) noexcept {
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90.0 &&
           std::fabs(longitude) <= 180.0;
}

}  // namespace zeloro
