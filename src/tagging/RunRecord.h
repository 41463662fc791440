// src/tagging/RunRecord.h: what a run that changed files keeps in the data folder so that it can be taken
// back: per file its identity after the run and the bytes that put its former content back.
#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/Error.h"

namespace zeloro {

// A fast 64-bit hash of a file's whole content, fed in pieces (four lanes of multiply-rotate rounds over
// 32-byte stripes); the same bytes give the same value however they are cut.
class ContentHash {
public:
    ContentHash() noexcept;
    void Update(std::span<const std::uint8_t> bytes) noexcept;
    [[nodiscard]] std::uint64_t Value() const noexcept;
    [[nodiscard]] static std::uint64_t Of(std::span<const std::uint8_t> bytes) noexcept;
    [[nodiscard]] static std::uint64_t Of(std::span<const std::span<const std::uint8_t>> parts) noexcept;

private:
    std::uint64_t lanes_[4];
    std::uint8_t stripe_[32]{};
    std::size_t filled_ = 0;
    std::uint64_t total_ = 0;
};

// One piece of a file's former content: a range of its content after the run, or bytes kept in the record.
struct RestoreStep {
    bool fromNew = false;
    std::uint64_t offset = 0;  // fromNew: where the range starts in the content after the run
    std::uint64_t length = 0;
    std::vector<std::uint8_t> bytes;  // otherwise: the former bytes themselves
    friend bool operator==(const RestoreStep&, const RestoreStep&) = default;
};

// One file a run wrote, as the run left it, and what it was before.
struct RecordedFile {
    std::string path;          // as the run named it
    bool throughLink = false;  // the run reached it through a symbolic link its scan saw
    bool created = false;      // the run made it (a new sidecar): taking the run back removes it
    std::uint64_t newSize = 0;
    timespec newMtime{};
    std::uint64_t newHash = 0;
    std::uint64_t oldSize = 0;
    timespec oldMtime{};
    std::uint64_t oldHash = 0;
    std::vector<RestoreStep> steps;  // in order, they give the former content (none when created)
};

// What a run was (its kind, for the log and the summaries) and the files it wrote, in the order written.
struct RunRecord {
    enum class Kind : std::uint8_t { tagging = 0, removal = 1 };
    Kind kind = Kind::tagging;
    std::int64_t startedNs = 0;  // the run's start, nanoseconds since 1970 (UTC)
    std::string folder;          // the photo folder of the run
    std::vector<RecordedFile> files;
};

// A record that is not one this program wrote whole: cut, damaged, or holding values that cannot be.
class RunRecordError : public Error {
public:
    using Error::Error;
};

// The steps that give old from the content after the run (the parts, joined): the ranges the two share,
// in place or shifted by the change of size, are taken from the new content; only the rest is kept.
[[nodiscard]] std::vector<RestoreStep> RestoreSteps(std::span<const std::uint8_t> old,
                                                    std::span<const std::span<const std::uint8_t>> now);
// The steps that put back a file whose first bytes stayed and which grew at its end, with the bytes at
// offset changed (a pointer switched): the new content up to the old size, the old bytes patched in.
[[nodiscard]] std::vector<RestoreStep> PatchSteps(std::uint64_t oldSize, std::uint64_t offset,
                                                  std::span<const std::uint8_t> oldBytes);

// The former content of file from its content now; throws RunRecordError when a step reaches beyond it or
// the result is not the size or hash the record gives.
[[nodiscard]] std::vector<std::uint8_t> RebuildFormer(const RecordedFile& file,
                                                      std::span<const std::uint8_t> now);

[[nodiscard]] std::vector<std::uint8_t> EncodeRunRecord(const RunRecord& record);
// Reads what EncodeRunRecord wrote; throws RunRecordError for anything else (the record is a file in the
// user's data folder, and anyone who can write there may have changed it).
[[nodiscard]] RunRecord DecodeRunRecord(std::span<const std::uint8_t> bytes);

// The folder of the records, "runs/" below the data folder, and the records kept.
inline constexpr std::size_t kKeptRuns = 20;
inline constexpr std::uint64_t kKeptRunBytes = std::uint64_t{1} << 30U;

// Writes the record as the newest of dataFolder (a new file, on the disk before this returns), then drops
// the oldest records while more than kKeptRuns are kept or they hold more than kKeptRunBytes; the newest is
// always kept. Throws FileError/StreamError when the record cannot be written.
void StoreRunRecord(const std::string& dataFolder, const RunRecord& record);
// The path of the newest record of dataFolder; nullopt when there is none.
[[nodiscard]] std::optional<std::string> NewestRunRecord(const std::string& dataFolder);
// The records of dataFolder, oldest first.
[[nodiscard]] std::vector<std::string> RunRecordPaths(const std::string& dataFolder);

}  // namespace zeloro
