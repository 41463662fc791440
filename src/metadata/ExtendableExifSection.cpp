// src/metadata/ExtendableExifSection.cpp: a section that tags can be added to.
#include "metadata/ExifData.h"
#include "metadata/ExifTags.h"

namespace zeloro {

TExifTag* TExtendableExifSection::Add(TTiffTagID id, TTiffDataType dataType, std::int32_t elementCount) {
    return AddTag(id, dataType, elementCount);
}

TExifTag* TExtendableExifSection::AddOrUpdate(TTiffTagID id, TTiffDataType dataType,
                                              std::int32_t elementCount, const void* data) {
    TExifTag* tag = Find(id);
    if (tag == nullptr) tag = AddTag(id, dataType, elementCount);
    tag->UpdateData(dataType, elementCount, data);
    return tag;
}

void TExtendableExifSection::Assign(const TExifSection* source) {
    if (source == this) return;  // clearing first would lose the very tags to be copied
    ExifUpdateScope update(Owner());
    Clear();
    if (source != nullptr) CopyTags(*source);
}

void TExtendableExifSection::CopyTags(const TExifSection& source) {
    ExifUpdateScope update(Owner());
    for (std::int32_t i = 0; i < source.Count(); ++i) {
        const TExifTag* tag = source[i];
        AddOrUpdate(tag->ID(), tag->DataType(), tag->ElementCount(), tag->Data());
    }
}

}  // namespace zeloro
