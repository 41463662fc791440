// src/tagging/ClockMatch.cpp: the camera's clock offset from a photo of a clock.
#include "tagging/ClockMatch.h"

#include <fcntl.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "media/ByteSource.h"
#include "media/MediaKind.h"
#include "media/ShotTime.h"
#include "metadata/ExifData.h"
#include "metadata/XMPSidecar.h"
#include "tagging/PhotoKinds.h"
#include "tagging/PhotoLocator.h"
#include "tagging/TaggingRun.h"

namespace zeloro {
namespace {

// The shot as the run reads it, with the offset the photo stores when the run applies stored offsets.
struct ReadShot {
    std::optional<ShotTime> shot;
    std::optional<int> storedOffset;
};

ReadShot ReadShotOf(const std::string& path, const RunSettings& settings) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw FileError("die Datei kann nicht geöffnet werden. " +
                        std::error_code(errno, std::generic_category()).message());
    }
    const FdSource source(fd.get());
    std::array<std::uint8_t, 64> head{};
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(source.Size(), head.size()));
    source.ReadAt(0, std::span(head.data(), count));
    const MediaKind kind = DetectMediaKind(std::span<const std::uint8_t>(head.data(), count));
    ReadShot read;
    if (kind == MediaKind::jpeg) {
        const std::vector<std::uint8_t> bytes = ReadPhotoFile(path);
        TExifData exif;
        exif.LoadFromJPEG(std::span<const std::uint8_t>(bytes));
        if (const DateTimeValue shot = exif.DateTimeOriginal(); shot != 0) {
            read.shot = ShotTime{shot, ShotTime::Clock::camera, 0};
        }
        if (settings.photoZone) {
            read.storedOffset = StoredPhotoOffset(exif);
        }
        return read;
    }
    // Without every kind the run reads JPEG photos only.
    if (!settings.allPhotos || kind == MediaKind::unknown) {
        throw UnknownPhotoKind();
    }
    read.shot = ReadMediaFacts(kind, source).shot;
    if (!read.shot) {
        // The run takes the shot time of such a file from its sidecar where the file has none.
        const std::string sidecar = SidecarPlan({path}, settings.sidecar).SidecarOf(path);
        if (const FileDescriptor probe(::open(sidecar.c_str(), O_RDONLY | O_CLOEXEC)); probe) {
            const std::vector<std::uint8_t> bytes = ReadPhotoFile(sidecar);
            if (const std::optional<XMPSidecarTime> time =
                    ReadXMPSidecarFacts(std::string(bytes.begin(), bytes.end())).shot) {
                read.shot = SidecarShot(*time);
            }
        }
    }
    return read;
}

// The shot in UTC as the run takes it with the clock offset given.
DateTimeValue ShotUtc(const ReadShot& read, std::int64_t offsetSeconds, const RunInputs& inputs,
                      RunSettings settings) {
    settings.clockOffsetSeconds = offsetSeconds;
    if (read.shot->clock == ShotTime::Clock::camera) {
        return ShotTimeToUtc(read.shot->time, read.storedOffset, inputs.zoneIndex, settings);
    }
    return MediaShotToUtc(*read.shot, inputs, settings);
}

std::int64_t WholeSeconds(DateTimeValue days) { return std::llround(days * 86400.0); }

}  // namespace

ClockMatch MatchClock(const std::string& photoPath, DateTimeValue shownTime, const CameraZone& shownZone,
                      const RunInputs& inputs, const RunSettings& settings) {
    const std::string name = PhotoFileName(photoPath);
    ReadShot read;
    try {
        read = ReadShotOf(photoPath, settings);
    } catch (const std::exception& error) {
        throw Error(name + " kann nicht gelesen werden: " + error.what());
    }
    if (!read.shot) {
        throw Error(name + " hat keine Aufnahmezeit; die Uhrzeit der Kamera ist daraus nicht abzulesen.");
    }
    // The clock in the photo shows the true time: the shot read with the offset must come out as it.
    const DateTimeValue shownUtc = shownZone.ToUtc(shownTime);
    std::int64_t offset = WholeSeconds(shownUtc - ShotUtc(read, 0, inputs, settings));
    // In a named zone the offset may move the shot across a change of summer time, which shifts its UTC
    // time by the change once more; one step back settles it.
    offset += WholeSeconds(shownUtc - ShotUtc(read, offset, inputs, settings));
    if (offset > kLargestClockOffsetSeconds || offset < -kLargestClockOffsetSeconds) {
        throw Error(name + ": die Uhr der Kamera weicht um mehr als " +
                    std::to_string(kLargestClockOffsetSeconds) + " Sekunden von der gezeigten Uhrzeit ab.");
    }
    return ClockMatch{offset, read.shot->time, name};
}

std::string ClockOffsetText(std::int64_t offsetSeconds) {
    const bool negative = offsetSeconds < 0;
    // Unsigned so that the most negative value still has a magnitude.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(offsetSeconds) : static_cast<std::uint64_t>(offsetSeconds);
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%c%llu:%02u:%02u", negative ? '-' : '+',
                  static_cast<unsigned long long>(magnitude / 3600),
                  static_cast<unsigned>(magnitude / 60 % 60), static_cast<unsigned>(magnitude % 60));
    return text.data();
}

}  // namespace zeloro
