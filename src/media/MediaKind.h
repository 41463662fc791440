// src/media/MediaKind.h: which kind of photo or video a file is, told by its first bytes, not its name.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

namespace zeloro {

// tiffRaw: TIFF and the RAW formats built on it (DNG NEF NRW CR2 ARW SR2 SRF ORF RW2 RWL PEF SRW ERF 3FR
// IIQ MEF MOS DCR KDC), including the variants that change TIFF's magic 42 (RW2 0x55, ORF "IIRO"/"IIRS"/
// "MMOR"). otherRaw: CRW, RAF, MRW, X3F. cr3: ISO base media with major brand "crx ". heif: HEIC, HEIF and
// AVIF. video: QuickTime and MP4.
enum class MediaKind : std::uint8_t { unknown, jpeg, tiffRaw, cr3, otherRaw, heif, video };

// head: the file's first bytes, at least 64 where the file has them (fewer tell less, never wrongly more).
[[nodiscard]] MediaKind DetectMediaKind(std::span<const std::uint8_t> head) noexcept;
// Whether the name's extension, in any case, is one the run takes with --all-photos: jpg jpeg jpe, the
// TIFF-based RAW extensions, cr3 crw raf mrw x3f heic heif avif mov mp4 m4v 3gp.
[[nodiscard]] bool IsAllPhotosName(std::string_view fileName) noexcept;
// The kind in German words for messages ("JPEG-Bild", "RAW-Bild (TIFF)", ..., "unbekanntes Format").
[[nodiscard]] const char* MediaKindText(MediaKind kind) noexcept;

}  // namespace zeloro
