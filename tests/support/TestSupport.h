// tests/support/TestSupport.h: temporary folders, byte buffers and the shared test data.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "common/LogSink.h"

namespace zeloro::test {

using Bytes = std::vector<std::uint8_t>;

// A log that keeps each line's message without its stamp: the stamp ("dd.mm.yyyy hh:mm:ss") holds no
// " - ", so the message starts at the first one.
class MessageLog : public LogSink {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t at = line.find(" - ");
        messages.push_back(at == std::string::npos ? line : line.substr(at));
    }
    std::vector<std::string> messages;
};

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    [[nodiscard]] std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

[[nodiscard]] Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
void WriteFileText(const std::filesystem::path& path, std::string_view text);
[[nodiscard]] std::string ReadFileText(const std::filesystem::path& path);

// Success, or a failure that names the first differing offset and the two sizes.
[[nodiscard]] ::testing::AssertionResult BytesEqual(const Bytes& expected, const Bytes& actual);

// The shared photo and track collection beside the clone; empty when it is absent.
[[nodiscard]] std::filesystem::path SharedTestData();
// The files of one shared sub-folder ("jpeg", "gpx") in name order.
[[nodiscard]] std::vector<std::filesystem::path> SharedFiles(std::string_view sub);
// The JPEG files of the shared sub-folders "jpeg" and "cameras", in name order.
[[nodiscard]] std::vector<std::filesystem::path> SharedPhotos();
// True for a name ending in .jpg or .jpeg, in any case.
[[nodiscard]] bool IsJpegFileName(const std::filesystem::path& path);

// True when the environment variable CI is set and not empty: what a local run may skip, CI must run.
[[nodiscard]] bool InCI();
// True when the exiftool program answers.
[[nodiscard]] bool HaveExiftool();

// Skips the current test for the reason given, or fails it under CI, which must run every test.
#define ZELORO_SKIP_OUTSIDE_CI(reason)                         \
    do {                                                       \
        if (::zeloro::test::InCI()) {                          \
            FAIL() << reason << ", and CI must run this test"; \
        }                                                      \
        GTEST_SKIP() << reason << "; the test is skipped";     \
    } while (false)

// For the tests on the shared collection of real photos and tracks.
#define ZELORO_REQUIRE_SHARED_TESTDATA()                                        \
    do {                                                                        \
        if (::zeloro::test::SharedTestData().empty()) {                         \
            ZELORO_SKIP_OUTSIDE_CI("shared/testdata is not beside this clone"); \
        }                                                                       \
    } while (false)

// For the comparisons with exiftool, the independent reader.
#define ZELORO_REQUIRE_EXIFTOOL()                                \
    do {                                                         \
        if (!::zeloro::test::HaveExiftool()) {                   \
            ZELORO_SKIP_OUTSIDE_CI("exiftool is not installed"); \
        }                                                        \
    } while (false)

// "yyyy-mm-dd hh:mm:ss" as a date-time value (a test's own fixed text; no checks).
[[nodiscard]] DateTimeValue TimeFromText(std::string_view text);

// The build folder (executables, zeloro.sqlite, maps/).
[[nodiscard]] std::filesystem::path BuildDir();
[[nodiscard]] std::filesystem::path SourceDir();

// Sets (or, with nullptr, removes) an environment variable for one scope and then puts back what was
// there; child processes started meanwhile see the change.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const char* value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace zeloro::test
