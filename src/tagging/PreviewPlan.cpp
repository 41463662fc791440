// src/tagging/PreviewPlan.cpp: a dry run's outcome kept for the write.
#include "tagging/PreviewPlan.h"

namespace zeloro {

const PlannedPhoto* PreviewPlan::Find(const std::string& path) const noexcept {
    for (const PlannedPhoto& photo : photos) {
        if (photo.path == path) {
            return &photo;
        }
    }
    return nullptr;
}

}  // namespace zeloro
