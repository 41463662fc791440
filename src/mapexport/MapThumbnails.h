// src/mapexport/MapThumbnails.h: the photos' thumbnails beside the map page, in maps/thumbs/.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zeloro {

// The name of the thumbnail folder in maps/, as the page refers to it.
inline constexpr const char* kMapThumbnailFolder = "thumbs";

// A fresh folder of thumbnails that takes the place of maps/thumbs as a whole, so that a page never shows
// the thumbnail of an earlier page's photo under a number of its own. It is filled under a hidden name in
// maps/ (".thumbs-" and six random characters) and removed again with all it holds when the writer goes
// without Commit.
class MapThumbnailFolder {
public:
    // Throws FileError "Datei <dataFolder>maps/thumbs kann nicht erstellt werden. <reason>" when the
    // folder cannot be made (no maps folder, no write access).
    explicit MapThumbnailFolder(const std::string& dataFolder);
    ~MapThumbnailFolder();
    MapThumbnailFolder(const MapThumbnailFolder&) = delete;
    MapThumbnailFolder& operator=(const MapThumbnailFolder&) = delete;

    // Writes "<number>.jpg" into the fresh folder, never over or through anything already there; throws
    // FileError or StreamError as the safe writes of the tool do.
    void Add(std::size_t number, std::span<const std::uint8_t> jpeg);
    // Puts the fresh folder in place of maps/thumbs. Whatever held that name is removed first; a link
    // there is removed itself, never followed. Throws FileError as the constructor.
    void Commit();

private:
    std::string target_;
    std::string fresh_;  // empty once committed
};

// Removes maps/thumbs and all it holds (a link there is removed itself): a page without photos has no
// thumbnails. Throws FileError as MapThumbnailFolder::Commit.
void RemoveMapThumbnails(const std::string& dataFolder);

}  // namespace zeloro
