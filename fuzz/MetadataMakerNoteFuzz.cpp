// fuzz/MetadataMakerNoteFuzz.cpp: the maker-note view over untrusted maker-note bytes, for every camera make.
// Byte 0 chooses the make, the model and the container's byte order; byte 1 a recorded offset shift;
// the rest is the maker note.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/Error.h"
#include "metadata/ExifData.h"
#include "metadata/MakerNotes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zeloro;
    if (size < 4) {
        return 0;
    }
    constexpr std::array<std::string_view, 8> kMakes{
        "Canon", "NIKON CORPORATION", "Nikon", "Panasonic", "SONY", "SONY", "Acme", ""};
    const std::uint8_t selector = data[0];
    const auto shift = static_cast<std::int8_t>(data[1]);
    const std::span<const std::uint8_t> note(data + 2, size - 2);
    try {
        TExifData exif;
        exif.SetEndianness((selector & 0x08U) != 0 ? BigEndian : SmallEndian);
        const std::string_view make = kMakes[selector & 0x07U];
        if (!make.empty()) {
            exif.SetCameraMake(std::string(make));
        }
        if ((selector & 0x07U) == 5) {
            exif.SetCameraModel("DSLR-A100");
        }
        if ((selector & 0x10U) != 0) {
            exif.SetOffsetSchema({shift, false});
        }
        auto& details = dynamic_cast<TExtendableExifSection&>(exif.RawSection(esDetails));
        TExifTag* tag = details.Add(ttMakerNote, tdUndefined, static_cast<std::int32_t>(note.size()));
        tag->UpdateData(note.data());
        ExifMakerNoteClass type = DetectMakerNoteType(*tag);
        const auto view = CreateMakerNoteView(type, exif.RawSection(esMakerNote));
        const TExifSection& section = view->Tags();
        for (std::int32_t i = 0; i < section.Count(); ++i) {
            (void)section[i]->AsString();
        }
    } catch (const Error&) {
    }
    return 0;
}
