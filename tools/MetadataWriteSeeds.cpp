// tools/MetadataWriteSeeds.cpp: writes the seed photos of the load-tag-save fuzz target, built in code
// by our own writer, into the folder given (fuzz/corpus/zeloro_metadata_write_fuzz/).
// Run: zeloro_metadata_write_seeds <folder>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "metadata/JPEGImageEx.h"
#include "metadata/WriteFixtures.h"

using namespace zeloro;
using namespace zeloro::test;

namespace {

void Write(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Saved(TJPEGImageEx& image) {
    std::vector<std::uint8_t> out;
    image.SaveToBytes(out);
    return out;
}

// A photo whose metadata was made by the writer: camera fields, a maker note, GPS, a thumbnail.
Bytes RichPhoto(TEndianness order, bool thumbnail) {
    TJPEGImageEx image;
    image.LoadFromBytes(Photo({Segment(0xE0, Text("JFIF"))}));
    TExifData& exif = image.ExifData();
    exif.SetEndianness(order);
    exif.SetCameraMake("Canon");
    exif.SetCameraModel("Model");
    exif.SetDateTimeOriginal(EncodeDateTime(2010, 7, 15, 14, 3, 27, 0));
    auto& details = static_cast<TExtendableExifSection&>(exif.RawSection(esDetails));
    const Bytes makerNote{1, 0, 1, 0, 3, 0, 1, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0};
    details.AddOrUpdate(ttMakerNote, tdUndefined, static_cast<std::int32_t>(makerNote.size()),
                        makerNote.data());
    details.SetWordValue(0xA002, 0, 1);
    static_cast<TExtendableExifSection&>(exif.RawSection(esInterop)).SetStringValue(1, "R98");
    exif.GPSLatitude().Assign(TTiffLongWordFraction(1, 1), TTiffLongWordFraction(2, 1),
                              TTiffLongWordFraction(3, 1), ltSouth);
    if (thumbnail) {
        image.CreateThumbnail(8, 8);
    }
    image.IPTCData().ApplicationSection().Add(5).SetAsString("title");
    return Saved(image);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zeloro_metadata_write_seeds <folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    Write(folder, "bare.jpg", Photo({}));
    Write(folder, "rich-ii-thumbnail.jpg", RichPhoto(SmallEndian, true));
    Write(folder, "rich-mm.jpg", RichPhoto(BigEndian, false));
    const Bytes xmp =
        Cat({Text(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29)),
             Text("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
                  "22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/"
                  "exif/1.0/\"><exif:GPSLatitude>1,2N</exif:GPSLatitude></rdf:Description></rdf:RDF>"
                  "</x:xmpmeta>")});
    const Bytes app13 = Cat({Text(std::string_view("Photoshop 3.0\0", 14)),
                             Text("8BIM"),
                             {0x07, 0xD0, 0, 0, 0, 0, 0, 2, 1, 2},
                             Text("8BIM"),
                             {0x04, 0x04, 0, 0, 0, 0, 0, 8, 0x1C, 2, 5, 0, 3, 'a', 'b', 'c'}});
    Write(folder, "xmp-iptc.jpg", Photo({Segment(0xE1, xmp), Segment(0xED, app13), Segment(0xED, app13)}));
    return 0;
}
