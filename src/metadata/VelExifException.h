// src/metadata/VelExifException.h: the root of the metadata exceptions, apart from the headers that
// throw them, so that a model header does not pull in the segment walker for it.
#pragma once
#include "common/Error.h"

namespace zeloro {

// Root of every metadata exception with one of the subsystem's fixed English messages.
class EVelExifException : public Error {
public:
    using Error::Error;
};

}  // namespace zeloro
