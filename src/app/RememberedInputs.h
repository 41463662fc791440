// src/app/RememberedInputs.h: the window's four inputs kept between sessions when the user asked for it
// ("Letzte Eingaben merken").
#pragma once
#include <QString>
#include <optional>

namespace zeloro {

struct RememberedInputs {
    QString gpxPath;
    QString photoFolder;
    int zoneIndex = 0;  // an item of the zone list
    int toleranceSeconds = 0;

    // From the application's QSettings (group "Eingaben"); nullopt when nothing has been kept, or when a
    // hand-edited store holds a zone or tolerance out of range: the window then keeps its start-up values.
    static std::optional<RememberedInputs> Load(int zoneCount, int largestTolerance);
    void Save() const;
    // Drops what was kept: with the option off no path of the user's lingers in the store.
    static void Forget();
};

}  // namespace zeloro
