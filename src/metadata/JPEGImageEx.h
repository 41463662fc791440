// src/metadata/JPEGImageEx.h: the JPEG image object a photo is tagged through: its compressed stream as
// read, its EXIF, XMP and IPTC views, and the rewrite of its metadata segments on save.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "filesafe/FolderReplace.h"
#include "metadata/AFCPTrailer.h"
#include "metadata/ExifData.h"
#include "metadata/IPTCData.h"
#include "metadata/JPEGImage.h"
#include "metadata/JPEGSegments.h"
#include "metadata/Streams.h"

namespace zeloro {

enum JPEGImageExAssignOption : std::uint8_t { jaPreserveMetadata = 0 };

// "No JFIF segment!": a re-encoded picture without an APP0 segment to anchor the kept metadata.
class AssertionFailed : public Error {
public:
    using Error::Error;
};

class TJPEGImageEx : public TJPEGImage {
    struct Rewrite {
        // The picture's stream as the base image writes it (the stored bytes, or the encoded bitmap).
        std::span<const std::uint8_t> source;
        std::vector<std::uint8_t> head;
        // The new content is head followed by source from tailStart on, with these bytes of the tail
        // (ascending, at or after tailStart) replaced: what keeps a moved trailer's offsets right.
        std::size_t tailStart = 0;
        std::vector<TrailerPatch> patches;

        // The pieces to write one after the other.
        [[nodiscard]] std::vector<std::span<const std::uint8_t>> Parts() const;
    };

public:
    // The content a save writes, built ahead of the write so that the file can be written later, by
    // another thread. It points into the image's stored stream: valid while the image lives unchanged.
    class BuiltContent {
    public:
        BuiltContent() = default;
        // Moved only: a move keeps the re-encoded stream where the parts point, a copy would not.
        BuiltContent(BuiltContent&&) noexcept = default;
        BuiltContent& operator=(BuiltContent&&) noexcept = default;
        BuiltContent(const BuiltContent&) = delete;
        BuiltContent& operator=(const BuiltContent&) = delete;
        ~BuiltContent() = default;

        // The pieces to write one after the other (WriteFileReplacing takes them as they are).
        [[nodiscard]] std::vector<std::span<const std::uint8_t>> Parts() const { return rewrite_.Parts(); }

    private:
        friend class TJPEGImageEx;
        std::vector<std::uint8_t> encoded_;  // the stream when a bitmap replaced the stored bytes
        Rewrite rewrite_;
    };

    class TAssignOptions {
    public:
        constexpr TAssignOptions() = default;
        constexpr TAssignOptions(std::initializer_list<JPEGImageExAssignOption> options) {
            for (const auto o : options) bits_ = static_cast<std::uint8_t>(bits_ | (1U << o));
        }
        [[nodiscard]] constexpr bool Contains(JPEGImageExAssignOption o) const noexcept {
            return (bits_ & (1U << o)) != 0;
        }

    private:
        std::uint8_t bits_ = 0;
    };

    TJPEGImageEx();
    ~TJPEGImageEx() override;
    TJPEGImageEx(const TJPEGImageEx&) = delete;
    TJPEGImageEx& operator=(const TJPEGImageEx&) = delete;

    [[nodiscard]] TExifData& ExifData() noexcept { return exifData_; }
    [[nodiscard]] const TExifData& ExifData() const noexcept { return exifData_; }
    [[nodiscard]] TIPTCData& IPTCData() noexcept { return iptcData_; }
    [[nodiscard]] const TIPTCData& IPTCData() const noexcept { return iptcData_; }
    // The packet owned by ExifData (parsed on first access).
    [[nodiscard]] TXMPPacket& XMPPacket() { return exifData_.XMPPacket(); }
    // True once the metadata or the picture changed after the last load; a save does not clear it.
    [[nodiscard]] bool ChangedSinceLastLoad() const noexcept { return changedSinceLastLoad_; }
    // True when the picture data is this program's encoding (a bitmap assigned, with or without the old
    // metadata) rather than the stream as loaded: only then does a save take the pixel size from it.
    [[nodiscard]] bool PictureEncodedHere() const noexcept { return HasPendingBitmap() || encodedHere_; }

    // Reads the whole file (FileError "Datei %s kann nicht geöffnet werden. %s" when it cannot be
    // opened) and loads it.
    void LoadFromFile(const std::string& fileName);
    // Takes the bytes from the stream's position to its end.
    void LoadFromStream(Stream& stream);
    // Reads the JPEG header only (JPEGError "JPEG-Fehler #%d" for a damaged one), then reloads the EXIF,
    // XMP and IPTC views from the bytes (their load errors propagate). The change flag ends false.
    void LoadFromBytes(std::vector<std::uint8_t> bytes) override;

    // Unchanged since the load: the stored stream as it was read. Otherwise the stored stream with its
    // EXIF and XMP segments rewritten, its Adobe APP13 segments rewritten only when the IPTC container was
    // edited, and every other byte copied unchanged, but for the file offsets an AFCP trailer at the end
    // stores: they move with it (MoveAFCPTrailer). A metadata block over 65533 bytes is refused with
    // SegmentTooLarge; nothing is written then.
    void SaveToBytes(std::vector<std::uint8_t>& out) override;
    void SaveToStream(Stream& stream);
    // Builds the complete content in memory, then replaces the file safely (temporary file in the same
    // folder, written out and closed, permission bits copied, renamed over it): on any failure the file
    // is left as it was.
    void SaveToFile(const std::string& fileName);
    // What SaveToFile writes, with the same errors, without writing it.
    [[nodiscard]] BuiltContent BuildContent();
    // Saves over the file these bytes were read from, by its folder handle and only while it is still the
    // file that was read (ReplaceReadFile); throws FileSkippedError when it is not. With keepMtime the
    // saved file keeps the modification time it had when it was read.
    void SaveOver(const ReadFile& file, bool keepMtime = false);

    // A bitmap: the picture is replaced and the metadata cleared. Another image: its stream is copied
    // and the metadata reloaded. Either way the change flag ends false.
    void Assign(const Bitmap& bitmap);
    void Assign(const TJPEGImage& source);
    // With jaPreserveMetadata the APP1..APP15 segments of the current picture are kept, placed after the
    // APP0 segment of the re-encoded picture; AssertionFailed when the encoder wrote no APP0 segment.
    void Assign(const Bitmap& bitmap, TAssignOptions options);

    // The picture scaled to fit the box becomes ExifData's thumbnail; an empty image removes it.
    void CreateThumbnail(std::uint32_t width = 160, std::uint32_t height = 120);
    // A segment walk over a copy of the image as SaveToBytes writes it; the walk owns the copy.
    [[nodiscard]] IJPEGHeaderParser Segments(
        const TJPEGMarkers& markersToLookFor = TJPEGMarkers::Range(0, 0xFF));
    // Removes the segments with these markers (reloading when any was removed); returns those removed. Like
    // RemoveMetadata, it keeps the offsets of an AFCP trailer at the end right (KeepAFCPTrailerOffsets).
    TJPEGMarkers RemoveSegments(const TJPEGMarkers& markers);
    // Removes EXIF APP1 segments (mkExif), XMP APP1 segments (mkXMP) and the IPTC blocks of Adobe APP13
    // segments (mkIPTC; a segment left with other blocks is rewritten in place); returns the kinds removed.
    TJPEGMetadataKinds RemoveMetadata(TJPEGMetadataKinds kinds);

protected:
    void Changed() override;

private:
    // encoded holds the stream when a bitmap replaced the stored bytes.
    [[nodiscard]] Rewrite BuildRewrite(std::vector<std::uint8_t>& encoded);
    void ReloadMetadata();

    bool changedSinceLastLoad_ = false;
    bool encodedHere_ = false;  // the stored stream came from the encoder (a bitmap kept with metadata)
    TExifData exifData_;
    TIPTCData iptcData_;
};

// Where the picture data of a rewrite comes from: as it was read, or encoded by this program.
enum class PictureData : std::uint8_t { asRead, encodedHere };

// The EXIF step of a rewrite: copies the JPEG stream in (from its position) to out with the APP0
// segments first, then a new EXIF APP1 segment (none when the container is empty), then the XMP segment
// (the pending one as read, else the packet when it is not empty), then every other byte in its old
// order. For a picture encoded here, ExifImageWidth/Height (and the XMP pixel size) follow the frame
// header when either tag exists; a picture as read keeps what the camera or an editor wrote there.
// EInvalidJPEGHeader when in does not start with 0xFF 0xD8; SegmentTooLarge for a block over 65533 bytes.
void WriteExifSegments(TExifData& exif, Stream& in, Stream& out, PictureData picture);

}  // namespace zeloro
