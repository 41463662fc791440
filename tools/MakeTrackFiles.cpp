// tools/MakeTrackFiles.cpp: writes the points of zeloro_make_gpx_track's track (one second apart, the
// same positions and elevations) as a Garmin FIT activity, an NMEA log (an RMC and a GGA sentence a
// second) and a KML gx:Track, so that their imports can be compared with the import of the GPX file.
// Usage: zeloro_make_track_files FIT_OUTPUT NMEA_OUTPUT KML_OUTPUT POINTS
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// 2020-06-01 00:00:00 UTC in FIT's seconds from 1989-12-31.
constexpr std::uint32_t kStart = 959817600;

double Latitude(long i) { return 47.0 + static_cast<double>(i % 100000) * 1e-6; }
double Longitude(long i) { return 8.0 + static_cast<double>(i % 77777) * 1e-6; }
double Elevation(long i) { return 400.0 + static_cast<double>(i % 1000) / 10.0; }

class FitWriter {
public:
    explicit FitWriter(std::FILE* out) : out_(out) {}

    void Put(const std::vector<std::uint8_t>& bytes) {
        for (const std::uint8_t byte : bytes) {
            crc_ ^= byte;
            for (int bit = 0; bit < 8; ++bit) {
                crc_ = static_cast<std::uint16_t>((crc_ & 1U) != 0 ? (crc_ >> 1U) ^ 0xA001U : crc_ >> 1U);
            }
        }
        std::fwrite(bytes.data(), 1, bytes.size(), out_);
        size_ += bytes.size();
    }
    [[nodiscard]] std::uint16_t Crc() const { return crc_; }

private:
    std::FILE* out_;
    std::uint16_t crc_ = 0;
    std::size_t size_ = 0;
};

void Le(std::vector<std::uint8_t>& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::int32_t Semicircles(double degrees) {
    return static_cast<std::int32_t>(std::llround(degrees / 180.0 * 2147483648.0));
}

bool WriteFit(const char* path, long points) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    // A record: header, timestamp, latitude, longitude, enhanced_altitude.
    constexpr std::uint32_t kRecordBytes = 1 + 4 + 4 + 4 + 4;
    const std::vector<std::uint8_t> definition{0x40, 0, 0,    20, 0, 4,    253, 4, 0x86,
                                               0,    4, 0x85, 1,  4, 0x85, 78,  4, 0x86};
    const auto dataSize =
        static_cast<std::uint32_t>(definition.size() + kRecordBytes * static_cast<std::uint64_t>(points));
    std::vector<std::uint8_t> header{12, 0x20, 0x08, 0x08};
    Le(header, dataSize, 4);
    header.insert(header.end(), {'.', 'F', 'I', 'T'});
    FitWriter writer(out);
    writer.Put(header);
    writer.Put(definition);
    std::vector<std::uint8_t> record;
    for (long i = 0; i < points; ++i) {
        record.assign(1, 0);
        Le(record, kStart + static_cast<std::uint32_t>(i), 4);
        Le(record, static_cast<std::uint32_t>(Semicircles(Latitude(i))), 4);
        Le(record, static_cast<std::uint32_t>(Semicircles(Longitude(i))), 4);
        Le(record, static_cast<std::uint32_t>(std::llround((Elevation(i) + 500.0) * 5.0)), 4);
        writer.Put(record);
    }
    std::vector<std::uint8_t> crc;
    Le(crc, writer.Crc(), 2);
    std::fwrite(crc.data(), 1, crc.size(), out);
    return std::fclose(out) == 0;
}

void Sentence(std::FILE* out, const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    std::fprintf(out, "$%s*%02X\r\n", body.c_str(), sum);
}

std::string Minutes(double degrees, int degreeDigits) {
    const int whole = static_cast<int>(degrees);
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%0*d%08.5f", degreeDigits, whole, (degrees - whole) * 60.0);
    return text.data();
}

bool WriteNmea(const char* path, long points) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    for (long i = 0; i < points; ++i) {
        const long day = 1 + i / 86400;
        const long second = i % 86400;
        std::array<char, 16> time{};
        std::snprintf(time.data(), time.size(), "%02ld%02ld%02ld", second / 3600, (second / 60) % 60,
                      second % 60);
        std::array<char, 16> date{};
        std::snprintf(date.data(), date.size(), "%02ld0620", day % 100);
        const std::string lat = Minutes(Latitude(i), 2);
        const std::string lon = Minutes(Longitude(i), 3);
        Sentence(out, std::string("GPRMC,") + time.data() + ",A," + lat + ",N," + lon + ",E,0.0,0.0," +
                          date.data() + ",,");
        std::array<char, 16> ele{};
        std::snprintf(ele.data(), ele.size(), "%.1f", Elevation(i));
        Sentence(out, std::string("GPGGA,") + time.data() + "," + lat + ",N," + lon + ",E,1,08,0.9," +
                          ele.data() + ",M,47.0,M,,");
    }
    return std::fclose(out) == 0;
}

bool WriteKml(const char* path, long points) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    std::fputs(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\" xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n"
        "<Document><Placemark><name>benchmark</name><gx:Track>\n",
        out);
    for (long i = 0; i < points; ++i) {
        const long day = 1 + i / 86400;
        const long second = i % 86400;
        std::fprintf(out, "<when>2020-06-%02ldT%02ld:%02ld:%02ldZ</when>\n", day % 100, second / 3600,
                     (second / 60) % 60, second % 60);
    }
    for (long i = 0; i < points; ++i) {
        std::fprintf(out, "<gx:coord>%.6f %.6f %.1f</gx:coord>\n", Longitude(i), Latitude(i), Elevation(i));
    }
    std::fputs("</gx:Track></Placemark></Document></kml>\n", out);
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s FIT_OUTPUT NMEA_OUTPUT KML_OUTPUT POINTS\n", argv[0]);
        return 2;
    }
    const long points = std::strtol(argv[4], nullptr, 10);
    if (points < 0 || !WriteFit(argv[1], points) || !WriteNmea(argv[2], points) ||
        !WriteKml(argv[3], points)) {
        std::perror("zeloro_make_track_files");
        return 1;
    }
    return 0;
}
