#include "app/RememberedInputs.h"

#include <QSettings>

namespace zeloro {

namespace {
constexpr QLatin1String kGroup("Eingaben");
}  // namespace

std::optional<RememberedInputs> RememberedInputs::Load(int zoneCount, int largestTolerance) {
    QSettings store;
    if (!store.childGroups().contains(kGroup)) {
        return std::nullopt;
    }
    store.beginGroup(kGroup);
    bool zoneRead = false;
    bool toleranceRead = false;
    RememberedInputs kept;
    kept.gpxPath = store.value(QStringLiteral("gpx")).toString();
    kept.photoFolder = store.value(QStringLiteral("folder")).toString();
    kept.zoneIndex = store.value(QStringLiteral("zone"), -1).toInt(&zoneRead);
    kept.toleranceSeconds = store.value(QStringLiteral("tolerance"), -1).toInt(&toleranceRead);
    if (!zoneRead || kept.zoneIndex < 0 || kept.zoneIndex >= zoneCount || !toleranceRead ||
        kept.toleranceSeconds < 0 || kept.toleranceSeconds > largestTolerance) {
        return std::nullopt;
    }
    return kept;
}

void RememberedInputs::Save() const {
    QSettings store;
    store.beginGroup(kGroup);
    store.setValue(QStringLiteral("gpx"), gpxPath);
    store.setValue(QStringLiteral("folder"), photoFolder);
    store.setValue(QStringLiteral("zone"), zoneIndex);
    store.setValue(QStringLiteral("tolerance"), toleranceSeconds);
    store.endGroup();
    store.sync();
}

void RememberedInputs::Forget() {
    QSettings store;
    store.remove(kGroup);
    store.sync();
}

}  // namespace zeloro
