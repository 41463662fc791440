// tests/tagging/RunInputsTest.cpp: which run settings make a run differ from the plain one.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tagging/RunInputs.h"

namespace zeloro::test {
namespace {

TEST(RunSettings, InForceOnlyWithAMemberThatChangesTheRun) {
    struct Case {
        const char* name;
        std::function<void(RunSettings&)> set;
        bool inForce;
    };
    const std::vector<Case> cases = {
        {"none", [](RunSettings&) {}, false},
        {"sidecar naming alone", [](RunSettings& s) { s.sidecar = SidecarNaming::base; }, false},
        {"RAW in file alone", [](RunSettings& s) { s.rawInFile = true; }, false},
        {"place file alone", [](RunSettings& s) { s.placeFile = "/x/places.bin"; }, false},
        {"empty track format", [](RunSettings& s) { s.gpsbabelFormats = {""}; }, false},
        {"clock offset", [](RunSettings& s) { s.clockOffsetSeconds = -1; }, true},
        {"zone", [](RunSettings& s) { s.zone = CameraZone::Parse("+05:30"); }, true},
        {"photo zone", [](RunSettings& s) { s.photoZone = true; }, true},
        {"interpolation", [](RunSettings& s) { s.interpolateMaxGap = 60; }, true},
        {"altitude", [](RunSettings& s) { s.altitude = true; }, true},
        {"more tracks", [](RunSettings& s) { s.moreGpxPaths = {"b.gpx"}; }, true},
        {"track format", [](RunSettings& s) { s.gpsbabelFormats = {"garmin_fit"}; }, true},
        {"explain", [](RunSettings& s) { s.explain = true; }, true},
        {"places", [](RunSettings& s) { s.places = PlacesMode::fill; }, true},
        {"zone from track", [](RunSettings& s) { s.zoneFromTrack = true; }, true},
        {"all photos", [](RunSettings& s) { s.allPhotos = true; }, true},
        {"keep going", [](RunSettings& s) { s.keepGoing = true; }, true},
    };
    for (const Case& c : cases) {
        RunSettings settings;
        c.set(settings);
        EXPECT_EQ(settings.InForce(), c.inForce) << c.name;
    }
}

}  // namespace
}  // namespace zeloro::test
