// src/tagging/RunRecord.cpp: the run record, its restore steps, its file form and the records kept.
#include "tagging/RunRecord.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/FileDescriptor.h"
#include "common/ReasonText.h"
#include "filesafe/SafeFileWrite.h"

namespace zeloro {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;

std::uint64_t Load64(const std::uint8_t* p) noexcept {
    std::uint64_t value = 0;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap64(value);
    }
    return value;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t word) noexcept {
    lane += word * kPrime2;
    lane = std::rotl(lane, 31);
    return lane * kPrime1;
}

constexpr std::array<char, 8> kMagic{'Z', 'E', 'L', 'O', 'R', 'U', 'N', '1'};
constexpr const char* kRecordSuffix = ".zeloro-run";
constexpr const char* kRunsFolder = "runs/";
// Shared ranges shorter than this are kept as bytes: a step costs 17 bytes, and a short run of equal bytes
// in two unrelated heads is chance.
constexpr std::uint64_t kShortestShared = 64;

// The joined parts, read at any offset.
class Joined {
public:
    explicit Joined(std::span<const std::span<const std::uint8_t>> parts) : parts_(parts) {
        std::uint64_t at = 0;
        for (const auto& part : parts) {
            starts_.push_back(at);
            at += part.size();
        }
        size_ = at;
    }
    [[nodiscard]] std::uint64_t Size() const noexcept { return size_; }
    // How many bytes from old[x] on equal this content from y on (at most limit).
    [[nodiscard]] std::uint64_t EqualRun(std::span<const std::uint8_t> old, std::uint64_t x,
                                         std::uint64_t y) const {
        std::size_t index =
            static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), y) - starts_.begin()) -
            1;
        std::uint64_t run = 0;
        while (x < old.size() && index < parts_.size()) {
            const std::span<const std::uint8_t> part = parts_[index];
            const std::uint64_t within = y - starts_[index];
            if (within >= part.size()) {
                ++index;
                continue;
            }
            const std::uint64_t count = std::min<std::uint64_t>(part.size() - within, old.size() - x);
            const auto* a = old.data() + x;
            const auto* b = part.data() + within;
            // Whole blocks by memcmp (the picture data of a photo is megabytes that match), the block
            // that differs byte by byte.
            std::uint64_t same = 0;
            while (same < count) {
                const std::uint64_t block = std::min<std::uint64_t>(count - same, 4096);
                if (std::memcmp(a + same, b + same, static_cast<std::size_t>(block)) == 0) {
                    same += block;
                    continue;
                }
                const auto [end, unused] = std::mismatch(a + same, a + same + block, b + same);
                same = static_cast<std::uint64_t>(end - a);
                break;
            }
            run += same;
            if (same < count) {
                break;
            }
            x += same;
            y += same;
        }
        return run;
    }

private:
    std::span<const std::span<const std::uint8_t>> parts_;
    std::vector<std::uint64_t> starts_;
    std::uint64_t size_ = 0;
};

void AddShared(std::vector<RestoreStep>& steps, std::uint64_t offset, std::uint64_t length) {
    if (length == 0) {
        return;
    }
    if (!steps.empty() && steps.back().fromNew && steps.back().offset + steps.back().length == offset) {
        steps.back().length += length;
        return;
    }
    steps.push_back(RestoreStep{true, offset, length, {}});
}

void AddKept(std::vector<RestoreStep>& steps, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    if (steps.empty() || steps.back().fromNew) {
        steps.push_back(RestoreStep{false, 0, 0, {}});
    }
    steps.back().bytes.insert(steps.back().bytes.end(), bytes.begin(), bytes.end());
    steps.back().length = steps.back().bytes.size();
}

class Writer {
public:
    void U8(std::uint8_t value) { bytes_.push_back(value); }
    void U64(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    void Bytes(std::span<const std::uint8_t> bytes) {
        U64(bytes.size());
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    void Text(const std::string& text) {
        Bytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    void Time(const timespec& time) {
        U64(static_cast<std::uint64_t>(time.tv_sec));
        U64(static_cast<std::uint64_t>(time.tv_nsec));
    }
    std::vector<std::uint8_t> Finish() {
        U64(ContentHash::Of(bytes_));
        return std::move(bytes_);
    }

private:
    std::vector<std::uint8_t> bytes_;
};

[[noreturn]] void Damaged(const char* what) {
    throw RunRecordError(std::string("Die Aufzeichnung des Laufs ist beschädigt: ") + what);
}

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t U8() {
        Need(1);
        return bytes_[at_++];
    }
    std::uint64_t U64() {
        Need(8);
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value |= std::uint64_t{bytes_[at_ + static_cast<std::size_t>(i)]} << (8 * i);
        }
        at_ += 8;
        return value;
    }
    std::span<const std::uint8_t> Bytes() {
        const std::uint64_t size = U64();
        Need(size);
        const auto span = bytes_.subspan(at_, static_cast<std::size_t>(size));
        at_ += static_cast<std::size_t>(size);
        return span;
    }
    std::string Text() {
        const auto span = Bytes();
        return {reinterpret_cast<const char*>(span.data()), span.size()};
    }
    timespec Time() {
        const auto seconds = static_cast<std::int64_t>(U64());
        const std::uint64_t nanoseconds = U64();
        if (nanoseconds >= 1'000'000'000ULL) {
            Damaged("Zeitangabe außerhalb des Bereichs");
        }
        return timespec{static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
    }
    [[nodiscard]] std::size_t Left() const noexcept { return bytes_.size() - at_; }

private:
    void Need(std::uint64_t count) const {
        if (count > bytes_.size() - at_) {
            Damaged("sie ist abgeschnitten");
        }
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

bool IsRecordName(const std::string& name) {
    return name.size() > std::strlen(kRecordSuffix) && name.front() != '.' && name.ends_with(kRecordSuffix);
}

}  // namespace

ContentHash::ContentHash() noexcept : lanes_{kPrime1 + kPrime2, kPrime2, 0, 0ULL - kPrime1} {}

void ContentHash::Update(std::span<const std::uint8_t> bytes) noexcept {
    total_ += bytes.size();
    std::size_t at = 0;
    if (filled_ > 0) {
        const std::size_t take = std::min(bytes.size(), sizeof stripe_ - filled_);
        std::memcpy(stripe_ + filled_, bytes.data(), take);
        filled_ += take;
        at = take;
        if (filled_ < sizeof stripe_) {
            return;
        }
        for (std::size_t lane = 0; lane < 4; ++lane) {
            lanes_[lane] = Round(lanes_[lane], Load64(stripe_ + 8 * lane));
        }
        filled_ = 0;
    }
    while (bytes.size() - at >= sizeof stripe_) {
        const std::uint8_t* p = bytes.data() + at;
        lanes_[0] = Round(lanes_[0], Load64(p));
        lanes_[1] = Round(lanes_[1], Load64(p + 8));
        lanes_[2] = Round(lanes_[2], Load64(p + 16));
        lanes_[3] = Round(lanes_[3], Load64(p + 24));
        at += sizeof stripe_;
    }
    filled_ = bytes.size() - at;
    if (filled_ > 0) {
        std::memcpy(stripe_, bytes.data() + at, filled_);
    }
}

std::uint64_t ContentHash::Value() const noexcept {
    std::uint64_t hash = std::rotl(lanes_[0], 1) + std::rotl(lanes_[1], 7) + std::rotl(lanes_[2], 12) +
                         std::rotl(lanes_[3], 18);
    for (const std::uint64_t lane : lanes_) {
        hash = (hash ^ Round(0, lane)) * kPrime1 + kPrime3;
    }
    hash += total_;
    for (std::size_t i = 0; i < filled_; ++i) {
        hash = std::rotl(hash ^ (stripe_[i] * kPrime3), 11) * kPrime1;
    }
    hash ^= hash >> 33U;
    hash *= kPrime2;
    hash ^= hash >> 29U;
    hash *= kPrime3;
    hash ^= hash >> 32U;
    return hash;
}

std::uint64_t ContentHash::Of(std::span<const std::uint8_t> bytes) noexcept {
    ContentHash hash;
    hash.Update(bytes);
    return hash.Value();
}

std::uint64_t ContentHash::Of(std::span<const std::span<const std::uint8_t>> parts) noexcept {
    ContentHash hash;
    for (const auto part : parts) {
        hash.Update(part);
    }
    return hash.Value();
}

std::vector<RestoreStep> RestoreSteps(std::span<const std::uint8_t> old,
                                      std::span<const std::span<const std::uint8_t>> now) {
    const Joined joined(now);
    std::vector<RestoreStep> steps;
    // The head up to the first change stays where it was; after it, what the save did not touch (the
    // picture, a trailer's unchanged bytes) lies shifted by the change of size.
    const std::uint64_t prefix = joined.EqualRun(old, 0, 0);
    AddShared(steps, 0, prefix);
    const std::int64_t shift =
        static_cast<std::int64_t>(joined.Size()) - static_cast<std::int64_t>(old.size());
    std::uint64_t kept = prefix;
    std::uint64_t x = prefix;
    while (x < old.size()) {
        const std::int64_t y = static_cast<std::int64_t>(x) + shift;
        if (y >= static_cast<std::int64_t>(joined.Size()) && x >= joined.Size()) {
            break;
        }
        // A file that grew at its end keeps its bytes in place; one whose head changed size, shifted.
        std::uint64_t from = x;
        std::uint64_t run = x < joined.Size() ? joined.EqualRun(old, x, x) : 0;
        if (shift != 0 && y >= 0) {
            if (const std::uint64_t shifted = joined.EqualRun(old, x, static_cast<std::uint64_t>(y));
                shifted > run) {
                run = shifted;
                from = static_cast<std::uint64_t>(y);
            }
        }
        if (run >= kShortestShared || (run > 0 && x + run == old.size() && run >= 8)) {
            AddKept(steps, old.subspan(kept, x - kept));
            AddShared(steps, from, run);
            x += run;
            kept = x;
        } else {
            x += run + 1;
        }
    }
    AddKept(steps, old.subspan(kept));
    return steps;
}

std::vector<RestoreStep> PatchSteps(std::uint64_t oldSize, std::uint64_t offset,
                                    std::span<const std::uint8_t> oldBytes) {
    std::vector<RestoreStep> steps;
    AddShared(steps, 0, std::min(offset, oldSize));
    if (offset < oldSize) {
        const std::uint64_t patched = std::min<std::uint64_t>(oldBytes.size(), oldSize - offset);
        AddKept(steps, oldBytes.first(static_cast<std::size_t>(patched)));
        AddShared(steps, offset + patched, oldSize - offset - patched);
    }
    return steps;
}

std::vector<std::uint8_t> RebuildFormer(const RecordedFile& file, std::span<const std::uint8_t> now) {
    std::vector<std::uint8_t> former;
    former.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(file.oldSize, now.size() + (1U << 20U))));
    for (const RestoreStep& step : file.steps) {
        if (step.length > file.oldSize - former.size()) {
            Damaged("ein Teil reicht über die frühere Größe hinaus");
        }
        if (step.fromNew) {
            if (step.offset > now.size() || step.length > now.size() - step.offset) {
                Damaged("ein Teil reicht über den Inhalt hinaus");
            }
            const auto from =
                now.subspan(static_cast<std::size_t>(step.offset), static_cast<std::size_t>(step.length));
            former.insert(former.end(), from.begin(), from.end());
        } else {
            former.insert(former.end(), step.bytes.begin(), step.bytes.end());
        }
    }
    if (former.size() != file.oldSize || ContentHash::Of(former) != file.oldHash) {
        Damaged("der frühere Inhalt ergibt sich nicht");
    }
    return former;
}

std::vector<std::uint8_t> EncodeRunRecord(const RunRecord& record) {
    Writer out;
    for (const char c : kMagic) {
        out.U8(static_cast<std::uint8_t>(c));
    }
    out.U8(static_cast<std::uint8_t>(record.kind));
    out.U64(static_cast<std::uint64_t>(record.startedNs));
    out.Text(record.folder);
    out.U64(record.files.size());
    for (const RecordedFile& file : record.files) {
        out.Text(file.path);
        out.U8(static_cast<std::uint8_t>((file.throughLink ? 1U : 0U) | (file.created ? 2U : 0U)));
        out.U64(file.newSize);
        out.Time(file.newMtime);
        out.U64(file.newHash);
        out.U64(file.oldSize);
        out.Time(file.oldMtime);
        out.U64(file.oldHash);
        out.U64(file.steps.size());
        for (const RestoreStep& step : file.steps) {
            out.U8(step.fromNew ? 1 : 0);
            if (step.fromNew) {
                out.U64(step.offset);
                out.U64(step.length);
            } else {
                out.Bytes(step.bytes);
            }
        }
    }
    return out.Finish();
}

RunRecord DecodeRunRecord(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kMagic.size() + 8 || !std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) {
        Damaged("sie stammt nicht von diesem Programm");
    }
    const auto body = bytes.first(bytes.size() - 8);
    Reader check(bytes.subspan(bytes.size() - 8));
    if (check.U64() != ContentHash::Of(body)) {
        Damaged("die Prüfsumme stimmt nicht");
    }
    Reader in(body.subspan(kMagic.size()));
    RunRecord record;
    const std::uint8_t kind = in.U8();
    if (kind > static_cast<std::uint8_t>(RunRecord::Kind::removal)) {
        Damaged("unbekannte Art des Laufs");
    }
    record.kind = static_cast<RunRecord::Kind>(kind);
    record.startedNs = static_cast<std::int64_t>(in.U64());
    record.folder = in.Text();
    const std::uint64_t count = in.U64();
    for (std::uint64_t i = 0; i < count; ++i) {
        RecordedFile file;
        file.path = in.Text();
        const std::uint8_t flags = in.U8();
        if (file.path.empty() || file.path.find('\0') != std::string::npos || flags > 3) {
            Damaged("ungültiger Eintrag");
        }
        file.throughLink = (flags & 1U) != 0;
        file.created = (flags & 2U) != 0;
        file.newSize = in.U64();
        file.newMtime = in.Time();
        file.newHash = in.U64();
        file.oldSize = in.U64();
        file.oldMtime = in.Time();
        file.oldHash = in.U64();
        const std::uint64_t steps = in.U64();
        std::uint64_t total = 0;
        for (std::uint64_t s = 0; s < steps; ++s) {
            RestoreStep step;
            const std::uint8_t fromNew = in.U8();
            if (fromNew > 1) {
                Damaged("ungültiger Teil");
            }
            step.fromNew = fromNew == 1;
            if (step.fromNew) {
                step.offset = in.U64();
                step.length = in.U64();
                if (step.offset > file.newSize || step.length > file.newSize - step.offset) {
                    Damaged("ein Teil reicht über den Inhalt hinaus");
                }
            } else {
                const auto kept = in.Bytes();
                step.bytes.assign(kept.begin(), kept.end());
                step.length = kept.size();
            }
            if (step.length > file.oldSize - total) {
                Damaged("ein Teil reicht über die frühere Größe hinaus");
            }
            total += step.length;
            file.steps.push_back(std::move(step));
        }
        if (!file.created && total != file.oldSize) {
            Damaged("die Teile ergeben nicht die frühere Größe");
        }
        record.files.push_back(std::move(file));
    }
    if (in.Left() != 0) {
        Damaged("Daten nach dem Ende");
    }
    return record;
}

std::vector<std::string> RunRecordPaths(const std::string& dataFolder) {
    const std::string folder = dataFolder + kRunsFolder;
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (IsRecordName(name)) {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    // The names begin with the start time in fixed width, so their order is the order of the runs.
    std::sort(names.begin(), names.end());
    for (std::string& name : names) {
        name = folder + name;
    }
    return names;
}

std::optional<std::string> NewestRunRecord(const std::string& dataFolder) {
    std::vector<std::string> paths = RunRecordPaths(dataFolder);
    if (paths.empty()) {
        return std::nullopt;
    }
    return paths.back();
}

void StoreRunRecord(const std::string& dataFolder, const RunRecord& record) {
    const std::string folder = dataFolder + kRunsFolder;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw FileError("Datei " + folder + " kann nicht erstellt werden. " + ReasonText(errno));
    }
    // Fixed width, so the names sort as the runs ran; a later record never sorts before an earlier one.
    std::int64_t stamp = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    const std::vector<std::string> existing = RunRecordPaths(dataFolder);
    const auto nameOf = [&](std::int64_t value) {
        char name[32];
        std::snprintf(name, sizeof name, "%020lld", static_cast<long long>(value));
        return folder + name + kRecordSuffix;
    };
    if (!existing.empty() && nameOf(stamp) <= existing.back()) {
        stamp = std::stoll(existing.back().substr(folder.size(), 20)) + 1;
    }
    WriteFileReplacing(nameOf(stamp), EncodeRunRecord(record), true);

    std::vector<std::string> paths = RunRecordPaths(dataFolder);
    std::vector<std::uint64_t> sizes;
    std::uint64_t total = 0;
    for (const std::string& path : paths) {
        struct stat info {};
        const std::uint64_t size =
            ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
        sizes.push_back(size);
        total += size;
    }
    for (std::size_t i = 0; i + 1 < paths.size(); ++i) {
        if (paths.size() - i <= kKeptRuns && total <= kKeptRunBytes) {
            break;
        }
        if (::unlink(paths[i].c_str()) == 0) {
            total -= sizes[i];
        }
    }
}

}  // namespace zeloro
