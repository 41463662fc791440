// tools/MediaSeeds.cpp: writes the seed inputs of the media fuzz targets, built with the test builders,
// into <corpus>/<target>/ for each of them. Run: zeloro_media_seeds fuzz/corpus.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "MediaBuilders.h"
#include "MetadataBuilders.h"

using namespace zeloro::test;

namespace {

void Write(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    const Bytes item = ExifItem(ExifTiff("2020:04:17 10:03:40", true));
    const auto iso = corpus / "zeloro_media_iso_boxes_fuzz";
    Write(iso, "heif-v0", HeifFile(item, {0, false, 1, 0, 2}));
    Write(iso, "heif-v1-base-three-extents", HeifFile(item, {1, false, 3, 16, 2}));
    Write(iso, "heif-v2-idat", HeifFile(item, {2, true, 2, 0, 3}));
    Write(iso, "tiff-raw", ExifTiff("2021:07:14 09:08:07", true, true));
    Write(iso, "jpeg",
          JpegBuilder{}.Soi().App1Exif(ExifTiff("2010:03:01 21:50:21", true)).Sof0().Sos({0}).Eoi().bytes());
    const Bytes preview =
        JpegBuilder{}.Soi().App1Exif(ExifTiff("2007:05:22 13:58:30", false)).Sof0().Sos({0}).Eoi().bytes();
    Write(iso, "raf", RafFile(preview, 160, static_cast<std::uint32_t>(preview.size())));
    Write(iso, "mrw", MrwFile(ExifTiff("2004:01:02 03:04:05", false, true)));
    Write(iso, "crw", CrwFile(1123095558));
    Write(iso, "x3f", X3fFile({{"AEMODE", "8"}, {"TIME", "1123095558"}}, preview));
    const auto cr3 = corpus / "zeloro_media_cr3_fuzz";
    Write(cr3, "cr3-gps", Cr3File(ExifDirectoryTiff("2018:02:21 12:08:56"), GpsDirectoryTiff(true)));
    Write(cr3, "cr3-no-gps", Cr3File(ExifDirectoryTiff("2018:02:21 12:08:56"), {}));
    const auto movie = corpus / "zeloro_media_quick_time_fuzz";
    Write(movie, "mvhd-v0-udta",
          Movie({MovieHeader(0, 3206613834ULL), UserDataPosition("+48.8577+002.2950/")}));
    Write(movie, "mvhd-v1-keys",
          Movie({MovieHeader(1, 3206613834ULL),
                 KeyedMeta({{"com.apple.quicktime.creationdate", "2019-05-01T10:00:00+0200"},
                            {"com.apple.quicktime.location.ISO6709", "+48.8577+002.2950+035.000/"}})}));
    Write(movie, "large-mdat-first",
          Join({FileTypeBox("isom", {}), LargeBox("mdat", Bytes(24, 0)),
                Box("moov", MovieHeader(0, 3206613834ULL))}));
    return 0;
}
