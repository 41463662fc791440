// src/metadata/JPEGImageEx.cpp: load, change tracking and the rewrite of a photo's metadata segments.
#include "metadata/JPEGImageEx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "filesafe/FolderReplace.h"
#include "filesafe/SafeFileWrite.h"
#include "metadata/AdobeResources.h"
#include "metadata/XMPPacket.h"
#include "metadata/detail/JpegCodec.h"

namespace zeloro {
namespace {

constexpr std::array<std::uint8_t, 6> kExifSignature{'E', 'x', 'i', 'f', 0, 0};
constexpr std::array<std::uint8_t, 2> kSOIBytes{0xFF, jmSOI};
constexpr std::array<std::uint8_t, 2> kEOIBytes{0xFF, jmEOI};
constexpr std::uint16_t kTagExifImageWidth = 0xA002;
constexpr std::uint16_t kTagExifImageHeight = 0xA003;

const TJPEGMarkers& FrameHeaderMarkers() {
    static const TJPEGMarkers markers{0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7};
    return markers;
}

bool HasExifSignature(std::span<const std::uint8_t> payload) noexcept {
    return payload.size() >= kExifSignature.size() &&
           std::equal(kExifSignature.begin(), kExifSignature.end(), payload.begin());
}

void CopyRange(Stream& in, Stream& out, std::int64_t from, std::int64_t to) {
    if (to > from) {
        in.SetPosition(from);
        out.CopyFrom(in, to - from);
    }
}

void WritePayloadSegment(Stream& out, std::uint8_t marker, std::span<const std::uint8_t> payload) {
    WriteSegment(out, marker, payload.data(), payload.size());
}

// Where the image data starts: the 0xFF of the first SOS marker, or the whole length when the segment
// walk finds none (or fails, in which case the full rewrite reports the damage).
std::size_t ImageDataOffset(std::span<const std::uint8_t> jpeg) {
    try {
        ReadOnlyMemoryStream stream(jpeg);
        auto parser = ParseJPEGSegments(stream, TJPEGMarkers{jmSOS});
        if (parser->MoveNext()) {
            return static_cast<std::size_t>(parser->Current()->MarkerOffset());
        }
    } catch (const Error&) {
    }
    return jpeg.size();
}

// Detaches the container's change listener for the duration of a save and always puts it back.
class ListenerDetached {
public:
    explicit ListenerDetached(TExifData& exif) : exif_(exif), saved_(exif.OnChange()) {
        exif_.SetOnChange({});
    }
    ListenerDetached(const ListenerDetached&) = delete;
    ListenerDetached& operator=(const ListenerDetached&) = delete;
    ~ListenerDetached() { exif_.SetOnChange(std::move(saved_)); }

private:
    TExifData& exif_;
    TCustomExifData::TNotifyEvent saved_;
};

}  // namespace

void WriteExifSegments(TExifData& exif, Stream& in, Stream& out, PictureData picture) {
    const std::int64_t start = in.Position();
    if (!StartsWithJPEGHeader(in)) {
        throw EInvalidJPEGHeader();
    }

    // The pixel size a camera or an editor stored may differ from the frame (a resized picture, a camera
    // that stores the sensor's size): unchanged picture data leaves it as they wrote it. Only a picture
    // this program encoded has a size that the tags must follow.
    const TExifSection& details = exif.RawSection(esDetails);
    if (picture == PictureData::encodedHere &&
        (details.Find(kTagExifImageWidth) != nullptr || details.Find(kTagExifImageHeight) != nullptr)) {
        {
            auto frames = ParseJPEGSegments(in, FrameHeaderMarkers());
            while (frames->MoveNext()) {
                const auto payload = frames->Current()->Payload();
                if (payload.size() >= 6) {
                    exif.SetExifImageWidth(SOFImageWidth(payload));
                    exif.SetExifImageHeight(SOFImageHeight(payload));
                    break;
                }
            }
        }
        in.SetPosition(start);
    }

    out.WriteBytes(kSOIBytes);
    struct Skipped {
        std::int64_t from;  // where the fill bytes in front of the segment start
        std::int64_t to;    // just after the segment
    };
    std::vector<Skipped> skipped;
    {
        bool exifFound = false;
        bool xmpFound = false;
        // Every segment is walked (EOI aside, so no scan of the image data) to know where each one's
        // fill bytes begin: a removed segment takes its fill bytes with it, so that they cannot turn
        // stray bytes behind it into a false marker.
        TJPEGMarkers all = TJPEGMarkers::Range(0x00, 0xFF);
        all.Exclude(jmEOI);
        std::int64_t previousEnd = start + 2;
        auto walk = ParseJPEGSegments(in, all);
        while (walk->MoveNext()) {
            const IFoundJPEGSegment& segment = walk->Current();
            const Skipped place{previousEnd, segment->MarkerOffset() + segment->TotalSize()};
            previousEnd = place.to;
            const std::uint8_t marker = segment->MarkerNum();
            if (marker != jmApp0 && marker != jmApp1) {
                continue;
            }
            const auto payload = segment->Payload();
            if (marker == jmApp0) {
                // APP0 (JFIF) must stay in front of the EXIF segment that follows.
                WritePayloadSegment(out, jmApp0, payload);
                skipped.push_back(place);
            } else if (!exifFound && HasExifSignature(payload)) {
                exifFound = true;
                skipped.push_back(place);
            } else if (!xmpFound && TXMPPacket::HasSegmentHeader(payload)) {
                xmpFound = true;
                skipped.push_back(place);
            }
        }
    }

    if (!exif.Empty()) {
        std::vector<std::uint8_t> block;
        exif.SaveToBytes(block);
        WritePayloadSegment(out, jmApp1, block);
    }

    if (const IFoundJPEGSegment& pending = exif.XMPSegmentToLoad()) {
        WritePayloadSegment(out, jmApp1, pending->Payload());
    } else {
        TXMPPacket& packet = exif.XMPPacket();
        if (!packet.Empty()) {
            packet.SetWriteSegmentHeader(true);
            std::vector<std::uint8_t> text;
            packet.SaveToStream(text);
            WritePayloadSegment(out, jmApp1, text);
        }
    }

    std::int64_t copyPos = start + 2;
    for (const Skipped& segment : skipped) {
        CopyRange(in, out, copyPos, segment.from);
        copyPos = segment.to;
    }
    CopyRange(in, out, copyPos, in.Size());
    out.SetSize(out.Position());
}

TJPEGImageEx::TJPEGImageEx() {
    exifData_.SetOnChange([this](TCustomExifData& /*sender*/) { Changed(); });
}

TJPEGImageEx::~TJPEGImageEx() {
    // The listener points back at this object, which is half destroyed from here on.
    exifData_.SetOnChange({});
}

void TJPEGImageEx::Changed() {
    changedSinceLastLoad_ = true;
    TJPEGImage::Changed();
}

void TJPEGImageEx::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadWholeFile(fileName)); }

void TJPEGImageEx::LoadFromStream(Stream& stream) { LoadFromBytes(stream.ReadToEnd()); }

void TJPEGImageEx::LoadFromBytes(std::vector<std::uint8_t> bytes) {
    encodedHere_ = false;
    if (bytes.empty()) {
        Clear();
    } else {
        // A photo whose header the codec refuses is not opened: the error goes to the caller.
        const detail::JpegHeaderInfo header = detail::ReadJpegHeader(bytes);
        TakeBytes(std::move(bytes), header.width, header.height, header.colorModel);
    }
    ReloadMetadata();
}

void TJPEGImageEx::ReloadMetadata() {
    if (Empty()) {
        exifData_.Clear(true);
        iptcData_.Clear();
    } else {
        std::vector<std::uint8_t> encoded;
        std::span<const std::uint8_t> stream = StoredBytes();
        if (HasPendingBitmap()) {
            TJPEGImage::SaveToBytes(encoded);
            stream = encoded;
        }
        exifData_.LoadFromJPEG(stream);
        iptcData_.LoadFromJPEG(stream);
    }
    changedSinceLastLoad_ = false;
}

TJPEGImageEx::Rewrite TJPEGImageEx::BuildRewrite(std::vector<std::uint8_t>& encoded) {
    Rewrite rewrite;
    rewrite.source = StoredBytes();
    if (HasPendingBitmap()) {
        TJPEGImage::SaveToBytes(encoded);
        rewrite.source = encoded;
    }
    // Only EXIF edits raise the change flag; an edited IPTC container counts too, so that its edits
    // are not silently dropped by a save.
    if ((!changedSinceLastLoad_ && !iptcData_.Modified()) || Empty()) {
        return rewrite;
    }

    // Both steps touch only the segments in front of the image data, so they run over that head alone
    // (closed by an EOI so that every walk ends there), and the image data is later written from where
    // it lies instead of being copied twice.
    const std::span<const std::uint8_t> source = rewrite.source;
    const std::size_t split = ImageDataOffset(source);
    const bool headOnly = split < source.size();
    std::vector<std::uint8_t> head;
    if (headOnly) {
        head.reserve(split + kEOIBytes.size());
        head.assign(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(split));
        head.insert(head.end(), kEOIBytes.begin(), kEOIBytes.end());
    }
    ReadOnlyMemoryStream in(headOnly ? std::span<const std::uint8_t>(head) : source);

    MemoryStream afterExif;
    {
        const ListenerDetached detached(exifData_);
        WriteExifSegments(exifData_, in, afterExif,
                          PictureEncodedHere() ? PictureData::encodedHere : PictureData::asRead);
    }
    // An IPTC container nobody edited holds what the photo's Adobe segments hold: writing it anew would
    // only relay their blocks (a record stream's trailing bytes, pad bytes and sizes), which changes the
    // digest other programs keep over the IPTC block.
    if (iptcData_.Modified()) {
        afterExif.SetPosition(0);
        MemoryStream result;
        iptcData_.SaveToJPEG(afterExif, result);
        rewrite.head = result.TakeBytes();
    } else {
        rewrite.head = afterExif.TakeBytes();
    }
    if (headOnly) {
        // The closing EOI went through both steps as the last two bytes; the real rest follows it.
        rewrite.head.resize(rewrite.head.size() - kEOIBytes.size());
        rewrite.tailStart = split;
        // An AFCP trailer at the end moves with the image data; the file offsets it stores must follow.
        const std::int64_t shift =
            static_cast<std::int64_t>(rewrite.head.size()) - static_cast<std::int64_t>(split);
        if (auto trailer = MoveAFCPTrailer(source, shift); trailer && trailer->start >= split) {
            rewrite.patches = std::move(trailer->patches);
        }
    } else {
        rewrite.tailStart = source.size();
    }
    return rewrite;
}

std::vector<std::span<const std::uint8_t>> TJPEGImageEx::Rewrite::Parts() const {
    std::vector<std::span<const std::uint8_t>> parts{head};
    std::size_t from = tailStart;
    for (const TrailerPatch& patch : patches) {
        parts.push_back(source.subspan(from, patch.at - from));
        parts.emplace_back(patch.bytes);
        from = patch.at + patch.bytes.size();
    }
    parts.push_back(source.subspan(from));
    return parts;
}

void TJPEGImageEx::SaveToBytes(std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> encoded;
    const Rewrite rewrite = BuildRewrite(encoded);
    for (const std::span<const std::uint8_t> part : rewrite.Parts()) {
        out.insert(out.end(), part.begin(), part.end());
    }
}

void TJPEGImageEx::SaveToStream(Stream& stream) {
    std::vector<std::uint8_t> encoded;
    const Rewrite rewrite = BuildRewrite(encoded);
    for (const std::span<const std::uint8_t> part : rewrite.Parts()) {
        stream.WriteBytes(part);
    }
}

void TJPEGImageEx::SaveToFile(const std::string& fileName) {
    const BuiltContent content = BuildContent();
    WriteFileReplacing(fileName, content.Parts());
}

TJPEGImageEx::BuiltContent TJPEGImageEx::BuildContent() {
    BuiltContent content;
    content.rewrite_ = BuildRewrite(content.encoded_);
    return content;
}

void TJPEGImageEx::SaveOver(const ReadFile& file, bool keepMtime) {
    const BuiltContent content = BuildContent();
    ReplaceReadFile(file, content.Parts(), false, keepMtime);
}

void TJPEGImageEx::Assign(const Bitmap& bitmap) {
    TJPEGImage::Assign(bitmap);
    encodedHere_ = false;  // the pending bitmap says it until it is encoded
    exifData_.Clear(true);
    iptcData_.Clear();
    changedSinceLastLoad_ = false;
}

void TJPEGImageEx::Assign(const TJPEGImage& source) {
    if (&source == this) {
        return;
    }
    TJPEGImage::Assign(source);
    const auto* other = dynamic_cast<const TJPEGImageEx*>(&source);
    encodedHere_ = other != nullptr && other->encodedHere_;
    ReloadMetadata();
}

void TJPEGImageEx::Assign(const Bitmap& bitmap, TAssignOptions options) {
    if (!options.Contains(jaPreserveMetadata)) {
        Assign(bitmap);
        return;
    }
    std::vector<std::uint8_t> current;
    SaveToBytes(current);
    std::vector<IFoundJPEGSegment> kept;
    {
        auto walk =
            ParseJPEGSegments(std::span<const std::uint8_t>(current), TJPEGMarkers::Range(0xE1, 0xEF));
        while (walk->MoveNext()) {
            kept.push_back(walk->Current());
        }
    }
    TJPEGImage::Assign(bitmap);
    std::vector<std::uint8_t> fresh;
    TJPEGImage::SaveToBytes(fresh);
    std::int64_t anchorEnd = -1;
    {
        auto walk = ParseJPEGSegments(std::span<const std::uint8_t>(fresh), TJPEGMarkers{jmApp0});
        if (walk->MoveNext()) {
            anchorEnd = walk->Current()->MarkerOffset() + walk->Current()->TotalSize();
        }
    }
    if (anchorEnd < 0) {
        throw AssertionFailed("No JFIF segment! (JPEGImageEx.cpp, Zeile " + std::to_string(__LINE__) + ")");
    }
    MemoryStream out;
    out.WriteBytes(std::span<const std::uint8_t>(fresh).first(static_cast<std::size_t>(anchorEnd)));
    for (const IFoundJPEGSegment& segment : kept) {
        WritePayloadSegment(out, segment->MarkerNum(), segment->Payload());
    }
    out.WriteBytes(std::span<const std::uint8_t>(fresh).subspan(static_cast<std::size_t>(anchorEnd)));
    LoadFromBytes(out.TakeBytes());
    // The kept metadata still describes the old picture; the next save takes the new one's size.
    encodedHere_ = true;
}

void TJPEGImageEx::CreateThumbnail(std::uint32_t width, std::uint32_t height) {
    if (Empty()) {
        exifData_.SetThumbnail(nullptr);
        return;
    }
    exifData_.CreateThumbnail(*this, width, height);
}

IJPEGHeaderParser TJPEGImageEx::Segments(const TJPEGMarkers& markersToLookFor) {
    std::vector<std::uint8_t> copy;
    SaveToBytes(copy);
    return ParseJPEGSegments(std::make_unique<MemoryStream>(std::move(copy)), markersToLookFor);
}

TJPEGMarkers TJPEGImageEx::RemoveSegments(const TJPEGMarkers& markers) {
    if (markers.Empty()) {
        return {};
    }
    std::vector<std::uint8_t> copy;
    SaveToBytes(copy);
    ReadOnlyMemoryStream in(copy);
    MemoryStream out;
    const TJPEGMarkers removed = StripJPEGSegments(in, out, markers);
    if (!removed.Empty()) {
        std::vector<std::uint8_t> kept = out.TakeBytes();
        KeepAFCPTrailerOffsets(copy, kept);
        LoadFromBytes(std::move(kept));
    }
    return removed;
}

TJPEGMetadataKinds TJPEGImageEx::RemoveMetadata(TJPEGMetadataKinds kinds) {
    if (kinds.Empty()) {
        return {};
    }
    std::vector<std::uint8_t> copy;
    SaveToBytes(copy);
    ReadOnlyMemoryStream in(copy);
    MemoryStream out;
    TJPEGMetadataKinds removed;
    std::int64_t copyPos = 0;
    {
        auto walk = ParseJPEGSegments(in, TJPEGMarkers{jmApp1, jmApp13});
        while (walk->MoveNext()) {
            const IFoundJPEGSegment& segment = walk->Current();
            const auto payload = segment->Payload();
            bool drop = false;
            std::vector<std::uint8_t> replacement;
            if (segment->MarkerNum() == jmApp1) {
                if (kinds.Contains(mkExif) && HasExifSignature(payload)) {
                    drop = true;
                    removed.Include(mkExif);
                } else if (kinds.Contains(mkXMP) && TXMPPacket::HasSegmentHeader(payload)) {
                    drop = true;
                    removed.Include(mkXMP);
                }
            } else if (kinds.Contains(mkIPTC) && segment->HasAdobeHeader()) {
                std::vector<IAdobeBlock> others;
                bool heldIPTC = false;
                TAdobeApp13Enumerator blocks(*segment);
                for (const IAdobeBlock& block : blocks) {
                    if (block->IsIPTCBlock()) {
                        heldIPTC = true;
                    } else {
                        others.push_back(block);
                    }
                }
                if (heldIPTC) {
                    drop = true;
                    removed.Include(mkIPTC);
                    if (!others.empty()) {
                        AppendAdobeHeader(replacement);
                        for (const IAdobeBlock& block : others) {
                            block->SaveToBytes(replacement);
                        }
                    }
                }
            }
            if (drop) {
                const std::int64_t resume = in.Position();
                CopyRange(in, out, copyPos, segment->MarkerOffset());
                if (!replacement.empty()) {
                    WritePayloadSegment(out, jmApp13, replacement);
                }
                copyPos = segment->MarkerOffset() + segment->TotalSize();
                in.SetPosition(resume);
            }
        }
    }
    if (removed.Empty()) {
        return removed;
    }
    CopyRange(in, out, copyPos, in.Size());
    std::vector<std::uint8_t> kept = out.TakeBytes();
    KeepAFCPTrailerOffsets(copy, kept);
    LoadFromBytes(std::move(kept));
    return removed;
}

void TExifData::SaveToJPEG(const std::string& jpegFileName, bool /*bufferedWrite*/) {
    // Always through memory and a safe replace: writing straight into the photo would leave it
    // truncated by any failure half-way.
    const std::vector<std::uint8_t> original = ReadWholeFile(jpegFileName);
    ReadOnlyMemoryStream in(original);
    MemoryStream out;
    WriteExifSegments(*this, in, out, PictureData::asRead);
    std::vector<std::uint8_t> saved = out.TakeBytes();
    KeepAFCPTrailerOffsets(original, saved);
    WriteFileReplacing(jpegFileName, saved);
}

void TExifData::SaveToJPEG(TJPEGImageEx& jpegImage) {
    std::vector<std::uint8_t> current;
    jpegImage.SaveToBytes(current);
    ReadOnlyMemoryStream in(current);
    MemoryStream out;
    WriteExifSegments(*this, in, out,
                      jpegImage.PictureEncodedHere() ? PictureData::encodedHere : PictureData::asRead);
    std::vector<std::uint8_t> saved = out.TakeBytes();
    KeepAFCPTrailerOffsets(current, saved);
    jpegImage.LoadFromBytes(std::move(saved));
}

}  // namespace zeloro
