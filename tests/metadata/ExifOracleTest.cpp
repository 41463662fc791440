// tests/metadata/ExifOracleTest.cpp: every shared test photo is loaded and compared with what exiftool
// (an independent reader) reports for the same file: byte order, DateTimeOriginal, GPS values and the tag
// IDs of IFD0, the EXIF, GPS and interoperability directories and IFD1.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "metadata/ExifData.h"
#include "metadata/ExifSourceBlock.h"
#include "support/TestSupport.h"

namespace zeloro {
namespace {

struct PipeClose {
    void operator()(FILE* f) const noexcept { pclose(f); }
};

struct OracleFile {
    std::string byteOrder;                                      // "II", "MM" or empty
    std::map<std::string, std::set<int>> ids;                   // group -> tag IDs
    std::map<std::pair<std::string, int>, std::string> values;  // (group, id) -> value text
};

// Parses the text output of one exiftool run over several files ("======== path" starts each file;
// lines read "[Group]  id  Name : value").
std::map<std::string, OracleFile> RunExiftool(const std::vector<std::filesystem::path>& files) {
    std::string cmd = "exiftool -G1 -a -u -D -n -ExifByteOrder -EXIF:all";
    for (const auto& f : files) cmd += " '" + f.string() + "'";
    cmd += " 2>/dev/null";
    std::map<std::string, OracleFile> out;
    std::unique_ptr<FILE, PipeClose> p(popen(cmd.c_str(), "r"));
    if (!p) return out;
    std::string current;
    char line[8192];
    while (std::fgets(line, sizeof line, p.get()) != nullptr) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (s.rfind("======== ", 0) == 0) {
            current = std::filesystem::path(s.substr(9)).filename().string();
            out[current];
            continue;
        }
        if (s.empty() || s[0] != '[') continue;
        const auto close = s.find(']');
        // Long names run into the colon ("GPS Horizontal Positioning Error: 165").
        const auto colon = s.find(": ", close);
        if (close == std::string::npos || colon == std::string::npos) continue;
        const std::string group = s.substr(1, close - 1);
        std::istringstream rest(s.substr(close + 1, colon - close));
        std::string idText;
        rest >> idText;
        const std::string value = s.substr(colon + 2);
        if (group == "File" && s.find("Exif Byte Order") != std::string::npos) {
            out[current].byteOrder = value;
            continue;
        }
        if (idText.empty() || idText.find_first_not_of("0123456789") != std::string::npos) continue;
        const int id = std::stoi(idText);
        out[current].ids[group].insert(id);
        out[current].values[{group, id}] = value;
    }
    return out;
}

std::set<int> OurIds(const TExifSection& section, std::initializer_list<int> pointers) {
    std::set<int> ids;
    for (std::int32_t i = 0; i < section.Count(); ++i) ids.insert(section[i]->ID());
    // Directory pointers are structure, not tags, for exiftool.
    for (const int p : pointers) ids.erase(p);
    return ids;
}

std::string Join(const std::set<int>& s) {
    std::string r;
    for (const int v : s) r += std::to_string(v) + " ";
    return r;
}

double Degrees(const TGPSCoordinate& c) {
    const auto d = c.Degrees();
    const auto m = c.Minutes();
    const auto s = c.Seconds();
    double v = d.Quotient() + m.Quotient() / 60.0;
    if (s.Denominator != 0) v += s.Quotient() / 3600.0;
    return v;
}

TEST(ExifOracle, AgreesWithExiftoolOnEverySharedPhoto) {
    ZELORO_REQUIRE_SHARED_TESTDATA();
    ZELORO_REQUIRE_EXIFTOOL();
    const auto files = test::SharedPhotos();
    ASSERT_FALSE(files.empty());
    const auto oracle = RunExiftool(files);
    int compared = 0;
    int refusedByOracle = 0;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        const auto it = oracle.find(name);
        ASSERT_NE(it, oracle.end());
        const OracleFile& o = it->second;
        TExifData exif;
        try {
            exif.LoadFromJPEG(path.string());
        } catch (const Error& e) {
            // We refuse what exiftool could not read as EXIF either.
            EXPECT_TRUE(o.ids.count("IFD0") == 0) << "we failed with " << e.what();
            continue;
        }
        if (o.byteOrder.empty() && !exif.MetadataInSource().Contains(mkExif)) {
            continue;  // neither finds an EXIF block
        }
        if (o.byteOrder.empty()) {
            // exiftool refuses some damaged files outright ("JPEG format error") that our walk reads as far
            // as it goes; there is nothing to compare then.
            ++refusedByOracle;
            continue;
        }
        ++compared;
        EXPECT_EQ(exif.Endianness() == BigEndian ? "MM" : "II", o.byteOrder);

        const auto ids = [&](const char* g) {
            auto f = o.ids.find(g);
            return f == o.ids.end() ? std::set<int>{} : f->second;
        };
        // exiftool lists a PrintIM block (50341), a Kodak directory (33424) and IPTC data (33723) under
        // groups of their own.
        const struct {
            TExifSectionKind kind;
            const char* group;
            std::initializer_list<int> notTags;
        } dirs[] = {{esGeneral, "IFD0", {34665, 34853, 50341, 33424, 33723}},
                    {esDetails, "ExifIFD", {40965, 37500}},
                    {esGPS, "GPS", {}},
                    {esInterop, "InteropIFD", {}},
                    {esThumbnail, "IFD1", {}}};
        for (const auto& d : dirs) {
            // A pointer back to a directory already read (the interoperability pointer of a Kodak back
            // leads to IFD0): exiftool refuses to read it again, we load what lies there.
            const ExifSourceBlock* source = exif.SourceBlock();
            const bool readBefore = source != nullptr && d.kind != esGeneral && d.kind != esThumbnail &&
                                    source->Directory(d.kind).Read() &&
                                    source->Directory(d.kind).offset == source->Directory(esGeneral).offset;
            if (readBefore) {
                EXPECT_TRUE(ids(d.group).empty()) << d.group;
                continue;
            }
            const std::set<int> ours = OurIds(exif.Sections(d.kind), d.notTags);
            const std::set<int> theirs = ids(d.group);
            if (exif.Sections(d.kind).LoadErrors().Empty()) {
                EXPECT_EQ(Join(ours), Join(theirs)) << d.group;
            } else {
                // Damaged directory: we keep what the tolerance rules allow; exiftool may drop more.
                for (const int id : theirs) EXPECT_TRUE(ours.count(id) == 1) << d.group << " lacks " << id;
            }
        }

        const auto dto = o.values.find({"ExifIFD", 36867});
        if (dto != o.values.end() && dto->second.size() == 19) {
            const std::string& t = dto->second;
            DateTimeValue want = 0;
            DateTimeValue date = 0;
            DateTimeValue time = 0;
            if (t[4] == ':' && t[7] == ':' &&
                TryEncodeDate(std::atoi(t.substr(0, 4).c_str()), std::atoi(t.substr(5, 2).c_str()),
                              std::atoi(t.substr(8, 2).c_str()), date) &&
                TryEncodeTime(std::atoi(t.substr(11, 2).c_str()), std::atoi(t.substr(14, 2).c_str()),
                              std::atoi(t.substr(17, 2).c_str()), 0, time)) {
                want = date + time;
            }
            EXPECT_EQ(exif.DateTimeOriginal(), want) << t;
        } else {
            EXPECT_EQ(exif.DateTimeOriginal(), 0);
        }

        for (const auto& [ref, value, coord] :
             {std::tuple<int, int, const TGPSCoordinate*>{1, 2, &exif.GPSLatitude()},
              std::tuple<int, int, const TGPSCoordinate*>{3, 4, &exif.GPSLongitude()}}) {
            const auto v = o.values.find({"GPS", value});
            if (v == o.values.end()) continue;
            const TTiffLongWordFraction deg = coord->Degrees();
            if (deg.Denominator == 0) continue;  // exiftool reads what we call missing differently
            // Seconds of 0/0 make exiftool's number undefined; we read degrees and minutes alone.
            if (v->second.empty()) continue;
            EXPECT_NEAR(Degrees(*coord), std::stod(v->second), 1e-6) << "GPS " << value;
            const auto r = o.values.find({"GPS", ref});
            if (r != o.values.end()) {
                EXPECT_EQ(std::string(1, coord->DirectionLetter()), r->second) << "GPS " << ref;
            }
        }
    }
    // Most of the collection carries EXIF; a comparison that silently covered none would prove nothing.
    EXPECT_GE(compared, 55);
    RecordProperty("photos_compared", compared);
    EXPECT_LE(refusedByOracle, 3);
}

}  // namespace
}  // namespace zeloro
