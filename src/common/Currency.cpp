#include "common/Currency.h"

#include <cfenv>
#include <cmath>

#include "common/Error.h"

namespace zeloro {

Currency Currency::FromReal(long double v) {
    const long double scaled = v * 10000.0L;
    // 2^63 bounds the count; NaN fails the same way.
    if (!(scaled > -9223372036854775808.0L && scaled < 9223372036854775808.0L)) {
        throw RangeError();
    }
    // The default rounding mode rounds ties to even, as the currency conversion requires.
    return Currency{static_cast<std::int64_t>(std::llrintl(scaled))};
}

}  // namespace zeloro
