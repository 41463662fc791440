// tools/MetadataSeeds.cpp: writes the seed inputs of the metadata core's fuzz targets, built with the
// test builders, into the folder given (fuzz/corpus/<target>/). Run: zeloro_metadata_seeds <folder>.
#include <cstdio>
#include <filesystem>
#include <string>

#include "MetadataBuilders.h"

using namespace zeloro::test;

namespace {

Bytes SampleTiff(bool big, bool withThumbnail) {
    TiffBuilder t(big);
    const int ifd0 = t.AddDirectory({t.Text(271, "Canon"), t.Text(272, "Model"), t.Short(274, {1}),
                                     t.Pointer(0x8769, 1), t.Pointer(0x8825, 2)});
    Bytes makerNote = t.U16({2});
    const Bytes e1 = t.U16({1, 3});
    makerNote.insert(makerNote.end(), e1.begin(), e1.end());
    const Bytes c1 = t.U32({1});
    makerNote.insert(makerNote.end(), c1.begin(), c1.end());
    const Bytes v1 = t.U16({7, 0});
    makerNote.insert(makerNote.end(), v1.begin(), v1.end());
    const Bytes e2 = t.U16({2, 2});
    makerNote.insert(makerNote.end(), e2.begin(), e2.end());
    const Bytes c2 = t.U32({4});
    makerNote.insert(makerNote.end(), c2.begin(), c2.end());
    makerNote.insert(makerNote.end(), {'a', 'b', 'c', 0});
    makerNote.insert(makerNote.end(), {0, 0, 0, 0});
    t.AddDirectory({t.Text(36867, "2010:07:15 14:03:27"), t.Text(37521, "50"), t.Undefined(37500, makerNote),
                    t.Pointer(0xA005, 3)});
    t.AddDirectory({t.Text(1, "N"), t.Rationals(2, {{51, 1}, {30, 1}, {7716, 625}}), t.Text(3, "E"),
                    t.Rationals(4, {{13, 1}, {24, 1}, {5, 1}}), t.Text(29, "2011:03:03"),
                    t.Rationals(7, {{23, 1}, {59, 1}, {59, 1}})});
    t.AddDirectory({t.Text(1, "R98"), t.Undefined(2, {'0', '1', '0', '0'})});
    if (withThumbnail) {
        const Bytes thumb = TinyJpeg(8, 8);
        TiffBuilder probe = t;
        const int p1 = probe.AddDirectory({probe.Long(0x0201, {0}), probe.Long(0x0202, {0})});
        probe.Chain(ifd0, p1).Append(thumb);
        (void)probe.Build();
        const int ifd1 = t.AddDirectory({t.Long(0x0201, {probe.AppendedOffset()}),
                                         t.Long(0x0202, {static_cast<std::uint32_t>(thumb.size())})});
        t.Chain(ifd0, ifd1).Append(thumb);
    }
    return t.Build();
}

Bytes Jpeg(const Bytes& tiff, bool xmp) {
    JpegBuilder b;
    b.Soi().Segment(0xE0, Raw(std::string_view("JFIF\0\1\1\0\0\1\0\1\0\0", 14)));
    if (xmp) {
        Bytes p = Raw(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29));
        const Bytes x =
            Raw("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                "<rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
                "exif:GPSLatitude='1,2,3N'/>"
                "</rdf:RDF></x:xmpmeta>");
        p.insert(p.end(), x.begin(), x.end());
        b.Segment(0xE1, p);
    }
    b.App1Exif(tiff);
    Bytes adobe =
        Raw(std::string_view("Photoshop 3.0\0"
                             "8BIM\x04\x04\0\0\0\0\0\x06\x1c\x02\x19\0\x01x",
                             32));
    b.Segment(0xED, adobe);
    b.Sof0().Sos({0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56}).Eoi();
    return b.bytes();
}

void Write(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
    WriteFileBytes(dir / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zeloro_metadata_seeds <folder>\n");
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::filesystem::create_directories(dir);
    Write(dir, "intel-full.jpg", Jpeg(SampleTiff(false, true), true));
    Write(dir, "motorola.jpg", Jpeg(SampleTiff(true, false), false));
    Bytes swapped = SampleTiff(false, false);
    swapped[0] = 'M';
    swapped[1] = 'M';
    Write(dir, "swapped-42.jpg", Jpeg(swapped, false));
    Bytes capped = SampleTiff(false, false);
    capped[8] = 0xC8;
    Write(dir, "capped-count.jpg", Jpeg(capped, false));
    TiffBuilder loop;
    const int a =
        loop.AddDirectory({loop.Short(1, {1}), TiffEntry{2, 14, 1, {}, 0U, {}}, loop.Short(3, {3})});
    const int b = loop.AddDirectory({loop.Long(0x0201, {8})});
    loop.Chain(a, b).Chain(b, a);
    Write(dir, "chain-loop.jpg", Jpeg(loop.Build(), false));
    Write(dir, "exif-block.bin", ExifPayload(SampleTiff(true, false)));
    return 0;
}
