// src/metadata/ExifData.cpp: the EXIF container: sections, update counting, maker note, XMP link,
// thumbnail, and the load path from a JPEG file or an EXIF block.
#include "metadata/ExifData.h"

#include <array>

#include "metadata/ExifSourceBlock.h"
#include "metadata/MakerNotes.h"
#include "metadata/TiffReader.h"

namespace zeloro {

namespace {

constexpr std::array<std::uint8_t, 6> kExifHeader{'E', 'x', 'i', 'f', 0, 0};

bool IsOffsetType(const TExifTag& tag) noexcept {
    return tag.DataType() == tdLongWord || tag.DataType() == tdLongInt || tag.DataType() == tdSubDirectory;
}

// Element 0 of a LONG, SLONG or IFD tag, held little-endian.
std::uint32_t OffsetValue(const TExifTag& tag) noexcept {
    const std::uint8_t* p = tag.Data();
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
           static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

void Remember(ExifSourceDirectory& record, const TTiffDirectory& directory) {
    // A directory in front of the TIFF header (inside "Exif\0\0") lies outside the block a save keeps:
    // it counts as not read there, and its tags are written anew.
    if (directory.Offset < 0) {
        return;
    }
    record.offset = directory.Offset;
    record.nextOffsetPosition = directory.NextOffsetPosition;
    record.entries = directory.Tags;
}

// IFD1's thumbnail bytes as its offset and length tags name them: the place of a thumbnail that is no
// loadable JPEG, so that a save can carry it as it was read.
bool NamedThumbnailRange(const TExifSection& ifd1, std::int64_t blockSize, std::int64_t& offset,
                         std::int64_t& size) {
    const TExifTag* start = ifd1.Find(ttThumbnailOffset);
    const TExifTag* length = ifd1.Find(ttThumbnailSize);
    if (start == nullptr || start->ElementCount() != 1 || !IsOffsetType(*start) || length == nullptr ||
        length->ElementCount() != 1) {
        return false;
    }
    const std::int64_t at = start->DataType() == tdLongWord ? static_cast<std::int64_t>(OffsetValue(*start))
                                                            : static_cast<std::int32_t>(OffsetValue(*start));
    const std::int64_t count = length->ReadLongWord(0, 0);
    if (count <= 0 || at < 0 || at > blockSize || count > blockSize - at) {
        return false;
    }
    offset = at;
    size = count;
    return true;
}

}  // namespace

TCustomExifData::TCustomExifData()
    : gpsLatitude_(this, 2, "GPSLatitude"),
      gpsDestLatitude_(this, 20, "GPSDestLatitude"),
      gpsLongitude_(this, 4, "GPSLongitude"),
      gpsDestLongitude_(this, 22, "GPSDestLongitude"),
      exifVersion_(this),
      flashPixVersion_(this),
      interopVersion_(this),
      gpsVersion_(this),
      flash_(this),
      focalPlaneResolution_(this),
      resolution_(this),
      thumbnailResolution_(this),
      isoSpeedRatings_(this),
      makerNoteType_(TUnrecognizedMakerNote::Class()),
      xmpPacket_(std::make_unique<TContainedXMPPacket>()) {
    CreateSections();
    xmpPacket_->SetUpdatePolicy(xwUpdateIfExists);
}

TCustomExifData::~TCustomExifData() {
    updateCount_ = 1000;  // no notification while tearing down
    makerNoteValue_.reset();
}

void TCustomExifData::CreateSections() {
    for (int k = kFirstSectionKind; k <= kLastSectionKind; ++k) {
        sections_[k - 1] = CreateSection(static_cast<TExifSectionKind>(k));
    }
}

std::unique_ptr<TExifSection> TCustomExifData::CreateSection(TExifSectionKind kind) {
    return std::make_unique<TExifSection>(this, kind);
}

void TCustomExifData::EndUpdate() {
    if (updateCount_ <= 0) return;
    --updateCount_;
    if (updateCount_ == 0 && changedWhileUpdating_) {
        changedWhileUpdating_ = false;
        Changed();
    }
}

void TCustomExifData::Changed() {
    if (updateCount_ <= 0) {
        modified_ = true;
        if (onChange_) onChange_(*this);
    } else {
        changedWhileUpdating_ = true;
    }
}

void TCustomExifData::SetModified(bool value) {
    if (value) {
        Changed();
    } else {
        modified_ = false;
    }
}

void TCustomExifData::SetEndianness(TEndianness value) {
    if (value == endianness_) return;
    endianness_ = value;
    Changed();
}

void TCustomExifData::Clear(bool xmpPacketToo) {
    BeginUpdate();
    try {
        source_.reset();
        ResetMakerNote();
        for (auto& section : sections_) section->Clear();
        if (xmpPacketToo) {
            xmpSegmentToLoad_.reset();
            xmpParseFailed_ = false;
            xmpPacket_->Clear();
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

bool TCustomExifData::GetEmpty() const {
    for (const auto& section : sections_) {
        if (section->Count() > 0) return false;
    }
    return true;
}

TExifSection& TCustomExifData::RawSection(TExifSectionKind kind) const noexcept {
    return *sections_[kind - 1];
}

TExifSection& TCustomExifData::Sections(TExifSectionKind kind) {
    if (kind == esMakerNote && makerNoteType_ != TUnrecognizedMakerNote::Class()) {
        (void)MakerNote();
    }
    return RawSection(kind);
}

const TExifSection& TCustomExifData::Sections(TExifSectionKind kind) const { return RawSection(kind); }

TExifMakerNote& TCustomExifData::MakerNote() {
    if (!makerNoteValue_) {
        // Building the view reads the section anew; that is not an edit of the photo.
        const bool wasChanged = changedWhileUpdating_;
        BeginUpdate();
        try {
            makerNoteValue_ = CreateMakerNoteView(makerNoteType_, RawSection(esMakerNote));
        } catch (...) {
            changedWhileUpdating_ = wasChanged;
            EndUpdate();
            throw;
        }
        changedWhileUpdating_ = wasChanged;
        EndUpdate();
    }
    return *makerNoteValue_;
}

bool TCustomExifData::HasMakerNote() const {
    const TExifTag* tag = RawSection(esDetails).Find(ttMakerNote);
    return tag != nullptr && IsValidTiffDataType(tag->DataType()) && tag->ElementCount() >= 1;
}

void TCustomExifData::ResetMakerNote() noexcept {
    makerNoteType_ = TUnrecognizedMakerNote::Class();
    makerNoteValue_.reset();
}

TXMPPacket& TCustomExifData::XMPPacket() {
    if (xmpSegmentToLoad_ && !xmpParseFailed_) {
        if (xmpPacket_->TryLoadFromStream(xmpSegmentToLoad_->Payload())) {
            xmpSegmentToLoad_.reset();
        } else {
            // Kept pending, so the save writes the segment back as it was read instead of losing it.
            xmpParseFailed_ = true;
            if (xmpPacket_->OnLoadError())
                xmpPacket_->OnLoadError()(*xmpPacket_, xmpSegmentToLoad_->Payload());
        }
    }
    return *xmpPacket_;
}

TXMPWritePolicy TCustomExifData::XMPWritePolicy() const noexcept { return xmpPacket_->UpdatePolicy(); }

void TCustomExifData::SetXMPWritePolicy(TXMPWritePolicy value) { xmpPacket_->SetUpdatePolicy(value); }

void TCustomExifData::RegisterMakerNoteType(ExifMakerNoteClass cls, bool testFirst) {
    zeloro::RegisterMakerNoteType(cls, testFirst ? mtTestForFirst : mtTestForLast);
}

void TCustomExifData::UnregisterMakerNoteType(ExifMakerNoteClass cls) {
    zeloro::UnregisterMakerNoteType(cls);
}

void TCustomExifData::LoadFromJPEG(const std::string& jpegFileName) {
    HeadFileStream stream(jpegFileName);
    LoadFromJPEG(stream);
}

void TCustomExifData::LoadFromJPEG(std::span<const std::uint8_t> jpeg) {
    ReadOnlyMemoryStream stream(jpeg);
    LoadFromJPEG(stream);
}

void TCustomExifData::LoadFromJPEG(Stream& stream) {
    metadataInSource_ = {};
    xmpSegmentPosition_ = 0;
    xmpPacketSizeInSource_ = 0;
    BeginUpdate();
    try {
        Clear(true);
        LoadFromJPEGWalk(stream);
    } catch (...) {
        changedWhileUpdating_ = false;
        EndUpdate();
        modified_ = false;
        throw;
    }
    changedWhileUpdating_ = false;
    EndUpdate();
    modified_ = false;
}

void TCustomExifData::LoadFromJPEGWalk(Stream& stream) {
    TJPEGHeaderParser parser(stream, TJPEGMarkers{jmApp1});
    bool exifLoaded = false;
    while (parser.MoveNext()) {
        const IFoundJPEGSegment& seg = parser.Current();
        const auto payload = seg->Payload();
        if (!exifLoaded && payload.size() >= kExifHeader.size() &&
            std::equal(kExifHeader.begin(), kExifHeader.end(), payload.begin())) {
            exifLoaded = true;
            metadataInSource_.Include(mkExif);
            seg->Data().SetPosition(0);
            AddFromStream(seg->Data());
            offsetBase_ += seg->PayloadOffset();
        } else if (!metadataInSource_.Contains(mkXMP) && TXMPPacket::HasSegmentHeader(payload)) {
            metadataInSource_.Include(mkXMP);
            xmpSegmentPosition_ = seg->MarkerOffset();
            xmpPacketSizeInSource_ = static_cast<std::int64_t>(payload.size());
            xmpSegmentToLoad_ = seg;
            xmpParseFailed_ = false;
        }
    }
}

void TCustomExifData::LoadFromStream(Stream& stream) {
    Clear(false);
    AddFromStream(stream);
}

void TCustomExifData::AddFromStream(Stream& stream) {
    if (!TryReadStreamHeader(stream, kExifHeader)) {
        throw EInvalidExifData();
    }
    BeginUpdate();
    try {
        source_.reset();
        TTiffInfo info;
        LoadTiffInfo(stream, info);
        offsetBase_ = info.BasePosition;
        endianness_ = info.Endianness;
        auto source = std::make_unique<ExifSourceBlock>();
        source->endianness = info.Endianness;
        if (!info.Directories.empty()) {
            RawSection(esGeneral).LoadFromDirectory(info, info.Directories[0]);
            Remember(source->Directory(esGeneral), info.Directories[0]);
            // A pointer is followed only when it is exactly one offset-typed element.
            auto follow = [&](TExifSectionKind from, TTiffTagID id, TExifSectionKind to) {
                const TExifTag* tag = RawSection(from).Find(id);
                if (tag != nullptr && tag->ElementCount() == 1 && IsOffsetType(*tag)) {
                    const auto offset = static_cast<std::int32_t>(OffsetValue(*tag));
                    const TTiffDirectory directory = ParseTiffDirectory(info, 0, offset);
                    RawSection(to).LoadFromDirectory(info, directory);
                    Remember(source->Directory(to), directory);
                }
            };
            follow(esGeneral, ttExifOffset, esDetails);
            follow(esGeneral, ttGPSOffset, esGPS);
            follow(esDetails, ttInteropOffset, esInterop);
            if (info.Directories.size() > 1) {
                RawSection(esThumbnail).LoadFromDirectory(info, info.Directories[1]);
                Remember(source->Directory(esThumbnail), info.Directories[1]);
            }
            if (const TExifTag* makerNote = RawSection(esDetails).Find(ttMakerNote)) {
                makerNoteType_ = DetectMakerNoteType(*makerNote);
            }
        }
        // The block as read, up to the end of the stream (the segment), gaps and trailing bytes included.
        source->tiff.resize(static_cast<std::size_t>(stream.Size() - info.BasePosition));
        stream.SetPosition(info.BasePosition);
        stream.ReadBuffer(source->tiff.data(), source->tiff.size());
        source_ = std::move(source);
    } catch (...) {
        changedWhileUpdating_ = false;
        EndUpdate();
        modified_ = false;
        throw;
    }
    changedWhileUpdating_ = false;
    EndUpdate();
    modified_ = false;
}

bool TCustomExifData::FindThumbnail(Stream* stream, std::int64_t& offset) const {
    const TExifTag* tag = RawSection(esThumbnail).Find(ttThumbnailOffset);
    if (tag == nullptr || tag->ElementCount() != 1 || !IsOffsetType(*tag)) return false;
    const std::uint32_t raw = OffsetValue(*tag);
    offset = tag->DataType() == tdLongWord ? static_cast<std::int64_t>(raw) : static_cast<std::int32_t>(raw);
    if (stream == nullptr) return true;
    const std::int64_t saved = stream->Position();
    const std::int64_t at = offsetBase_ + offset;
    bool ok = false;
    if (at >= 0 && at <= stream->Size()) {
        std::uint8_t head[20];
        stream->SetPosition(at);
        ok = stream->Read(head, sizeof head) == sizeof head && head[0] == 0xFF && head[1] == jmSOI;
    }
    stream->SetPosition(saved);
    return ok;
}

TExifData::TExifData() { CreateSections(); }

TExifData::~TExifData() {
    if (thumbnail_) thumbnail_->SetOnChange(nullptr);
}

std::unique_ptr<TExifSection> TExifData::CreateSection(TExifSectionKind kind) {
    return std::make_unique<TExtendableExifSection>(this, kind);
}

bool TExifData::GetEmpty() const { return TCustomExifData::GetEmpty() && !HasThumbnail(); }

void TExifData::Clear(bool xmpPacketToo) {
    BeginUpdate();
    thumbnailEdited_ = false;
    if (thumbnail_) {
        thumbnail_->SetOnChange(nullptr);
        thumbnail_.reset();
        Changed();
    }
    try {
        TCustomExifData::Clear(xmpPacketToo);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TExifData::AddFromStream(Stream& stream) {
    TCustomExifData::AddFromStream(stream);
    thumbnailEdited_ = false;
    std::int64_t offset = 0;
    if (FindThumbnail(&stream, offset)) {
        // A damaged thumbnail must not cost the photo its other metadata: it is left out instead.
        try {
            stream.SetPosition(offsetBase_ + offset);
            const std::int64_t length = MeasureJPEGData(stream);
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
            stream.ReadBuffer(bytes.data(), bytes.size());
            auto thumb = std::make_unique<TJPEGImage>();
            thumb->LoadFromBytes(std::move(bytes));
            thumb->SetOnChange([this] { ThumbnailChanged(); });
            thumbnail_ = std::move(thumb);
            if (source_) {
                source_->thumbnailOffset = offset;
                source_->thumbnailSize = length;
                source_->thumbnailIsJPEG = true;
            }
        } catch (const Error&) {
            thumbnail_.reset();
        }
    }
    // Bytes that are no loadable JPEG stay what IFD1's tags say they are, so a save can carry them.
    if (source_ && !source_->thumbnailIsJPEG) {
        std::int64_t at = 0;
        std::int64_t size = 0;
        if (NamedThumbnailRange(RawSection(esThumbnail), static_cast<std::int64_t>(source_->tiff.size()), at,
                                size)) {
            source_->thumbnailOffset = at;
            source_->thumbnailSize = size;
        }
    }
    SetModified(false);
}

TJPEGImage& TExifData::Thumbnail() {
    if (!thumbnail_) {
        thumbnail_ = std::make_unique<TJPEGImage>();
        thumbnail_->SetOnChange([this] { ThumbnailChanged(); });
    }
    return *thumbnail_;
}

bool TExifData::HasThumbnail() const noexcept { return thumbnail_ != nullptr && !thumbnail_->Empty(); }

void TExifData::SetThumbnail(const TJPEGImage* value) {
    if (value == nullptr) {
        if (thumbnail_) {
            thumbnail_->SetOnChange(nullptr);
            thumbnail_.reset();
            thumbnailEdited_ = true;
            Changed();
        }
        return;
    }
    if (value == thumbnail_.get()) return;
    Thumbnail().Assign(*value);
}

void TExifData::ThumbnailChanged() {
    thumbnailEdited_ = true;
    Changed();
    TExifSection& ifd1 = RawSection(esThumbnail);
    if (thumbnail_ && (ifd1.Find(256) != nullptr || ifd1.Find(257) != nullptr)) {
        ifd1.SetWordValue(256, 0, static_cast<std::uint16_t>(thumbnail_->Width()));
        ifd1.SetWordValue(257, 0, static_cast<std::uint16_t>(thumbnail_->Height()));
    }
}

void TExifData::Assign(const TCustomExifData* source) {
    if (source == nullptr) {
        Clear(true);
        return;
    }
    if (source == this) return;
    BeginUpdate();
    try {
        // The copied tags do not come from the block this container read.
        source_.reset();
        for (int k = kFirstSectionKind; k <= kLastSectionKind; ++k) {
            const auto kind = static_cast<TExifSectionKind>(k);
            static_cast<TExtendableExifSection&>(RawSection(kind)).Assign(&source->RawSection(kind));
        }
        if (const auto* other = dynamic_cast<const TExifData*>(source)) {
            SetThumbnail(other->HasThumbnail() ? other->ThumbnailOrNil() : nullptr);
        } else if (RawSection(esThumbnail).Count() == 0) {
            SetThumbnail(nullptr);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

}  // namespace zeloro
