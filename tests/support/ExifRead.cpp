#include "ExifRead.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "TestSupport.h"
#include "common/DateTime.h"
#include "metadata/ExifData.h"

namespace zeloro::test {

namespace {

double FractionValue(const TTiffLongWordFraction& f) {
    return static_cast<double>(f.Numerator) / static_cast<double>(f.Denominator);
}

double Degrees(const TGPSCoordinate& c) {
    return FractionValue(c.Degrees()) + FractionValue(c.Minutes()) / 60 + FractionValue(c.Seconds()) / 3600;
}

std::string DateTimeOf(DateTimeValue t) {
    const CalendarDate d = DecodeDate(t);
    const ClockTime c = DecodeTime(t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", d.year, d.month, d.day, c.hour,
                  c.minute, c.second);
    return text;
}

// The shell sees each argument as one word, whatever it holds.
std::string Quoted(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

struct PipeClose {
    void operator()(FILE* pipe) const noexcept { pclose(pipe); }
};

}  // namespace

std::optional<GpsPosition> GpsPositionOf(const std::filesystem::path& photo) {
    TExifData exif;
    exif.LoadFromJPEG(photo.string());
    const TGPSLatitude& lat = exif.GPSLatitude();
    const TGPSLongitude& lon = exif.GPSLongitude();
    if (lat.MissingOrInvalid() || lon.MissingOrInvalid()) {
        return std::nullopt;
    }
    return GpsPosition{lat.Direction() == ltSouth ? -Degrees(lat) : Degrees(lat),
                       lon.Direction() == lnWest ? -Degrees(lon) : Degrees(lon)};
}

void ExpectGpsByOurReader(const std::filesystem::path& photo, const GpsFix& fix) {
    SCOPED_TRACE(photo.string());
    TExifData exif;
    exif.LoadFromJPEG(photo.string());
    const double lat = std::stod(fix.lat);
    const double lon = std::stod(fix.lon);
    const TGPSLatitude& gLat = exif.GPSLatitude();
    const TGPSLongitude& gLon = exif.GPSLongitude();
    ASSERT_FALSE(gLat.MissingOrInvalid());
    ASSERT_FALSE(gLon.MissingOrInvalid());
    EXPECT_EQ(gLat.Direction(), lat < 0 ? ltSouth : ltNorth);
    EXPECT_EQ(gLon.Direction(), lon < 0 ? lnWest : lnEast);
    // Degrees and minutes are whole numbers over 1; the seconds carry four decimals at most.
    EXPECT_EQ(gLat.Degrees().Denominator, 1U);
    EXPECT_EQ(gLat.Minutes().Denominator, 1U);
    EXPECT_NEAR(Degrees(gLat), std::fabs(lat), 1e-7);
    EXPECT_NEAR(Degrees(gLon), std::fabs(lon), 1e-7);
    EXPECT_EQ(DateTimeOf(exif.GPSDateTimeUTC()), fix.utc);
}

void ExpectGpsByExiftool(const std::filesystem::path& photo, const GpsFix& fix) {
    SCOPED_TRACE(photo.string());
    const std::vector<std::string> v =
        ExiftoolValues(photo, {"-GPSLatitude", "-GPSLongitude", "-GPSDateStamp", "-GPSTimeStamp"});
    ASSERT_EQ(v.size(), 4U);
    ASSERT_NE(v[0], "-") << "no GPS position";
    ASSERT_NE(v[1], "-") << "no GPS position";
    EXPECT_NEAR(std::stod(v[0]), std::stod(fix.lat), 1e-7);
    EXPECT_NEAR(std::stod(v[1]), std::stod(fix.lon), 1e-7);
    EXPECT_EQ(v[2] + " " + v[3], fix.utc);
}

std::vector<std::string> ExiftoolValues(const std::filesystem::path& photo,
                                        const std::vector<std::string>& tags) {
    std::string command = "exiftool -n -f -s3";
    for (const std::string& tag : tags) {
        command += " " + Quoted(tag);
    }
    // Its warnings stay apart from the values, and are shown only when the answer is not what was asked.
    const TempDir dir;
    command += " " + Quoted(photo.string()) + " 2>" + Quoted((dir / "stderr").string());
    std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
    if (!pipe) {
        ADD_FAILURE() << "exiftool cannot be started";
        return {};
    }
    std::vector<std::string> values;
    std::string out;
    std::string line;
    for (int c = std::fgetc(pipe.get()); c != EOF; c = std::fgetc(pipe.get())) {
        out.push_back(static_cast<char>(c));
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
        } else {
            values.push_back(line);
            line.clear();
        }
    }
    const int status = pclose(pipe.release());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || values.size() != tags.size() || !line.empty()) {
        ADD_FAILURE() << "exiftool answered with status " << status << ":\n"
                      << out << ReadFileText(dir / "stderr");
        return {};
    }
    return values;
}

}  // namespace zeloro::test
