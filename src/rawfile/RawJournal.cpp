// src/rawfile/RawJournal.cpp: the journal of a RAW write: its name, its content, and the repair of a
// write a killed run left.
#include <string>
#include <string_view>

#include "filesafe/SafeFileWrite.h"
#include "rawfile/RawGpsWrite.h"

namespace zeloro {
namespace {

// As long as the in-place journal's mark, so SaveNameStem leaves room for it; the hyphen in its last six
// characters keeps the scan from taking it for a temporary file of a save (".zeloro-" and six letters).
constexpr std::string_view kRawJournalMark = ".zeloro-raw-gps";

}  // namespace

std::string RawJournalName(const std::string& fileName) {
    const std::string stem = SaveNameStem(fileName);
    std::string name;
    name.reserve(stem.size() + kRawJournalMark.size() + 1);
    name.append(".").append(stem).append(kRawJournalMark);
    return name;
}

bool IsRawJournalName(std::string_view name) noexcept {
    return name.size() > 1 + kRawJournalMark.size() && name.front() == '.' && name.ends_with(kRawJournalMark);
}

}  // namespace zeloro
