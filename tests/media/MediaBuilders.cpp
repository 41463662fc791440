// tests/media/MediaBuilders.cpp: the media fixtures, byte by byte.
#include "MediaBuilders.h"

#include <stdexcept>

#include "MetadataBuilders.h"

namespace zeloro::test {

void PutBig(Bytes& out, std::uint64_t value, unsigned width) {
    for (unsigned i = width; i > 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8U * (i - 1))));
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

namespace {

Bytes Type(std::string_view type) {
    if (type.size() != 4) throw std::invalid_argument("a box type has four bytes");
    return Text(type);
}

}  // namespace

Bytes Box(std::string_view type, const Bytes& payload) {
    Bytes out;
    PutBig(out, 8 + payload.size(), 4);
    return Join({out, Type(type), payload});
}

Bytes LargeBox(std::string_view type, const Bytes& payload) {
    Bytes size;
    PutBig(size, 16 + payload.size(), 8);
    return Join({{0, 0, 0, 1}, Type(type), size, payload});
}

Bytes FullBox(std::string_view type, std::uint8_t version, const Bytes& payload) {
    return Box(type, Join({{version, 0, 0, 0}, payload}));
}

Bytes FileTypeBox(std::string_view major, std::initializer_list<std::string_view> compatible) {
    Bytes payload = Join({Type(major), {0, 0, 0, 0}});
    for (const std::string_view brand : compatible) payload = Join({payload, Type(brand)});
    return Box("ftyp", payload);
}

Bytes ExifTiff(std::string_view dateTimeOriginal, bool gps, bool bigEndian) {
    TiffBuilder t(bigEndian);
    std::vector<TiffEntry> ifd0{t.Short(274, {1}), t.Pointer(0x8769, 1)};
    if (gps) ifd0.push_back(t.Pointer(0x8825, 2));
    t.AddDirectory(ifd0);
    std::vector<TiffEntry> exif{t.Rationals(0x829A, {{1, 100}})};
    if (!dateTimeOriginal.empty()) exif.push_back(t.Text(0x9003, dateTimeOriginal));
    t.AddDirectory(exif);
    if (gps) {
        t.AddDirectory({t.Text(1, "N"), t.Rationals(2, {{48, 1}, {51, 1}, {0, 1}}), t.Text(3, "E"),
                        t.Rationals(4, {{2, 1}, {17, 1}, {0, 1}})});
    }
    return t.Build();
}

Bytes ExifDirectoryTiff(std::string_view dateTimeOriginal) {
    TiffBuilder t;
    t.AddDirectory({t.Rationals(0x829A, {{1, 100}}), t.Text(0x9003, dateTimeOriginal)});
    return t.Build();
}

Bytes GpsDirectoryTiff(bool withPosition) {
    TiffBuilder t;
    std::vector<TiffEntry> gps{t.Undefined(0, {2, 3, 0, 0})};
    if (withPosition) {
        gps.push_back(t.Rationals(2, {{48, 1}, {51, 1}, {0, 1}}));
        gps.push_back(t.Rationals(4, {{2, 1}, {17, 1}, {0, 1}}));
    }
    t.AddDirectory(gps);
    return t.Build();
}

Bytes ExifItem(const Bytes& tiff) {
    return Join({{0, 0, 0, 6}, Text(std::string_view("Exif\0\0", 6)), tiff});
}

namespace {

Bytes ItemInfo(std::uint32_t id, std::string_view type, unsigned version) {
    Bytes payload;
    PutBig(payload, id, version == 2 ? 2 : 4);
    PutBig(payload, 0, 2);
    return FullBox("infe", static_cast<std::uint8_t>(version), Join({payload, Type(type), {0}}));
}

// The iloc box for item 2 at the given extents (offsets already relative to the base offset) and item 1
// at a fixed place, so that the EXIF item is not the first one read.
Bytes ItemLocations(const HeifLayout& layout,
                    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& extents) {
    const unsigned v = layout.ilocVersion;
    Bytes p;
    p.push_back(0x44);                  // offsets and lengths of 4 bytes
    p.push_back(v == 0 ? 0x80 : 0x84);  // base offsets of 8 bytes; extent indexes of 4 (versions 1, 2)
    PutBig(p, 2, v < 2 ? 2 : 4);
    const auto item = [&](std::uint32_t id, unsigned method, std::uint64_t base,
                          const std::vector<std::pair<std::uint64_t, std::uint64_t>>& list) {
        PutBig(p, id, v < 2 ? 2 : 4);
        if (v != 0) PutBig(p, method, 2);
        PutBig(p, 0, 2);  // this file
        PutBig(p, base, 8);
        PutBig(p, list.size(), 2);
        for (const auto& [offset, length] : list) {
            if (v != 0) PutBig(p, 1, 4);
            PutBig(p, offset, 4);
            PutBig(p, length, 4);
        }
    };
    item(1, 0, 0, {{0, 1}});
    item(2, layout.inIdat ? 1 : 0, layout.baseOffset, extents);
    return FullBox("iloc", static_cast<std::uint8_t>(v), p);
}

}  // namespace

Bytes HeifFile(const Bytes& exifItem, const HeifLayout& layout) {
    // The item in pieces, stored last piece first, so that only the extents' order joins them right.
    std::vector<Bytes> pieces;
    const std::size_t n = static_cast<std::size_t>(layout.extents);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = exifItem.size() * i / n;
        const std::size_t to = exifItem.size() * (i + 1) / n;
        pieces.emplace_back(exifItem.begin() + static_cast<std::ptrdiff_t>(from),
                            exifItem.begin() + static_cast<std::ptrdiff_t>(to));
    }
    Bytes stored;
    std::vector<std::uint64_t> at(n);
    for (std::size_t i = n; i > 0; --i) {
        at[i - 1] = stored.size();
        stored = Join({stored, pieces[i - 1]});
    }
    const Bytes ftyp = FileTypeBox("heic", {"mif1", "heic"});
    const Bytes hdlr = FullBox("hdlr", 0, Join({{0, 0, 0, 0}, Text("pict"), Bytes(12, 0), {0}}));
    Bytes iinfPayload;
    PutBig(iinfPayload, 2, 2);
    const Bytes iinf = FullBox("iinf", 0,
                               Join({iinfPayload, ItemInfo(1, "hvc1", layout.infeVersion),
                                     ItemInfo(2, "Exif", layout.infeVersion)}));
    const auto build = [&](std::uint64_t dataBegin) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
        for (std::size_t i = 0; i < n; ++i)
            extents.emplace_back(dataBegin + at[i] - layout.baseOffset, pieces[i].size());
        Bytes children = Join({hdlr, iinf, ItemLocations(layout, extents)});
        if (layout.inIdat) children = Join({children, Box("idat", stored)});
        return FullBox("meta", 0, children);
    };
    if (layout.inIdat) return Join({ftyp, build(0), Box("mdat", {1, 2, 3})});
    // The item's offsets in the file depend on the size of meta, which does not depend on them.
    const std::uint64_t dataBegin = ftyp.size() + build(0).size() + 8;
    return Join({ftyp, build(dataBegin), Box("mdat", stored)});
}

Bytes Cr3File(const Bytes& cmt2, const Bytes& cmt4) {
    const Bytes canonUuid{0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                          0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
    TiffBuilder ifd0;
    ifd0.AddDirectory({ifd0.Text(0x010F, "Canon")});
    Bytes children = Join(
        {Box("CNCV", Text("CanonCR3_001/00.09.00/00.00.00")), Box("CMT1", ifd0.Build()), Box("CMT2", cmt2)});
    if (!cmt4.empty()) children = Join({children, Box("CMT4", cmt4)});
    const Bytes uuid = Box("uuid", Join({canonUuid, children}));
    return Join({FileTypeBox("crx ", {"crx ", "isom"}), Box("moov", Join({uuid, MovieHeader(0, 0)})),
                 Box("mdat", {0, 0, 0, 0})});
}

Bytes MovieHeader(std::uint8_t version, std::uint64_t creationTime) {
    Bytes p;
    const unsigned w = version == 1 ? 8 : 4;
    PutBig(p, creationTime, w);
    PutBig(p, creationTime, w);  // modification
    PutBig(p, 600, 4);           // time scale
    PutBig(p, 6000, w);          // duration
    return FullBox("mvhd", version, Join({p, Bytes(80, 0)}));
}

Bytes KeyedMeta(const std::vector<std::pair<std::string, std::string>>& values) {
    Bytes keys;
    PutBig(keys, values.size(), 4);
    Bytes items;
    std::uint32_t index = 0;
    for (const auto& [key, value] : values) {
        PutBig(keys, 8 + key.size(), 4);
        keys = Join({keys, Text("mdta"), Text(key)});
        Bytes data;
        PutBig(data, 1, 4);  // UTF-8
        PutBig(data, 0, 4);  // locale
        Bytes item = Box("data", Join({data, Text(value)}));
        Bytes header;
        PutBig(header, 8 + item.size(), 4);
        PutBig(header, ++index, 4);
        items = Join({items, header, item});
    }
    const Bytes hdlr = FullBox("hdlr", 0, Join({{0, 0, 0, 0}, Text("mdta"), Bytes(12, 0), {0}}));
    return Box("meta", Join({hdlr, FullBox("keys", 0, keys), Box("ilst", items)}));
}

Bytes UserDataPosition(std::string_view iso6709) {
    Bytes p;
    PutBig(p, iso6709.size(), 2);
    PutBig(p, 0x15C7, 2);  // language
    const Bytes xyz = Box("\xA9xyz", Join({p, Text(iso6709)}));
    return Box("udta", Join({xyz, {0, 0, 0, 0}}));  // QuickTime may end a list with a 32-bit zero
}

Bytes Movie(const std::vector<Bytes>& moovChildren) {
    Bytes moov;
    for (const Bytes& child : moovChildren) moov = Join({moov, child});
    return Join({FileTypeBox("qt  ", {"qt  "}), Box("moov", moov), Box("mdat", Bytes(16, 0))});
}

Bytes RafFile(const Bytes& jpeg, std::uint32_t offset, std::uint32_t length) {
    Bytes raf = Text("FUJIFILMCCD-RAW 0201FF392201");
    raf.resize(84, 0);
    PutBig(raf, offset, 4);
    PutBig(raf, length, 4);
    raf.resize(offset, 0);
    return Join({raf, jpeg, Bytes(16, 0)});
}

Bytes MrwFile(const Bytes& tiff) {
    Bytes blocks = Join({{0, 'P', 'R', 'D', 0, 0, 0, 4}, {1, 2, 3, 4}, {0, 'T', 'T', 'W'}});
    PutBig(blocks, tiff.size(), 4);
    blocks = Join({blocks, tiff});
    Bytes mrw{0, 'M', 'R', 'M'};
    PutBig(mrw, blocks.size(), 4);
    return Join({mrw, blocks, Bytes(32, 0)});
}

Bytes CrwFile(std::uint32_t seconds) {
    const auto le32 = [](Bytes& out, std::uint32_t v) {
        for (unsigned i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8U * i)));
    };
    const auto le16 = [](Bytes& out, std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v & 0xFFU));
        out.push_back(static_cast<std::uint8_t>(v >> 8U));
    };
    // Sub-heap: 12 bytes of capture time, then its table of one record, then the table's offset.
    Bytes sub;
    le32(sub, seconds);
    le32(sub, 0);
    le32(sub, 0);
    le16(sub, 1);
    le16(sub, 0x180E);
    le32(sub, 12);
    le32(sub, 0);
    le32(sub, 12);
    // Root heap: a record held in the record itself (skipped), then the sub-heap.
    Bytes root = sub;
    le16(root, 2);
    le16(root, 0x4000 | 0x0001);
    le32(root, 0x11111111);
    le32(root, 0x22222222);
    le16(root, 0x300A);
    le32(root, static_cast<std::uint32_t>(sub.size()));
    le32(root, 0);
    le32(root, static_cast<std::uint32_t>(sub.size()));
    Bytes header{'I', 'I'};
    le32(header, 26);
    header = Join({header, Text("HEAPCCDR"), {0, 0, 1, 0}, Bytes(8, 0)});
    return Join({header, root});
}

namespace {

void Le32(Bytes& out, std::uint32_t v) {
    for (unsigned i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8U * i)));
}

}  // namespace

Bytes X3fFile(const std::vector<std::pair<std::string, std::string>>& properties, const Bytes& jpeg) {
    Bytes file = Join({Text("FOVb"), {2, 0, 2, 0}, Bytes(56, 0)});
    struct Section {
        std::uint32_t offset;
        std::uint32_t length;
        std::string type;
    };
    std::vector<Section> sections;
    if (!properties.empty()) {
        Bytes entries;
        Bytes characters;
        for (const auto& [name, value] : properties) {
            Le32(entries, static_cast<std::uint32_t>(characters.size() / 2));
            for (const char c : name + '\0')
                characters.insert(characters.end(), {static_cast<std::uint8_t>(c), 0});
            Le32(entries, static_cast<std::uint32_t>(characters.size() / 2));
            for (const char c : value + '\0')
                characters.insert(characters.end(), {static_cast<std::uint8_t>(c), 0});
        }
        Bytes prop = Text("SECp");
        Le32(prop, 0x00020000);
        Le32(prop, static_cast<std::uint32_t>(properties.size()));
        Le32(prop, 0);  // UTF-16
        Le32(prop, 0);
        Le32(prop, static_cast<std::uint32_t>(characters.size() / 2));
        prop = Join({prop, entries, characters});
        sections.push_back(
            {static_cast<std::uint32_t>(file.size()), static_cast<std::uint32_t>(prop.size()), "PROP"});
        file = Join({file, prop});
    }
    if (!jpeg.empty()) {
        Bytes image = Text("SECi");
        for (const std::uint32_t v : {0x00020000U, 2U, 18U, 8U, 8U, 0U}) Le32(image, v);
        image = Join({image, jpeg});
        sections.push_back(
            {static_cast<std::uint32_t>(file.size()), static_cast<std::uint32_t>(image.size()), "IMA2"});
        file = Join({file, image});
    }
    const auto directory = static_cast<std::uint32_t>(file.size());
    Bytes dir = Text("SECd");
    Le32(dir, 0x00020000);
    Le32(dir, static_cast<std::uint32_t>(sections.size()));
    for (const Section& section : sections) {
        Le32(dir, section.offset);
        Le32(dir, section.length);
        dir = Join({dir, Text(section.type)});
    }
    file = Join({file, dir});
    Le32(file, directory);
    return file;
}

}  // namespace zeloro::test
