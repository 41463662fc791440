#include "TestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <utility>

#include "common/AsciiText.h"

namespace zeloro::test {

TempDir::TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("zeloro-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be created");
}

TempDir::~TempDir() {
    std::error_code ec;
    // A test may have made parts read-only; give the rights back so the folder can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(path_, ec);
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void WriteFileText(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string ReadFileText(const std::filesystem::path& path) {
    const Bytes b = ReadFileBytes(path);
    return {b.begin(), b.end()};
}

::testing::AssertionResult BytesEqual(const Bytes& expected, const Bytes& actual) {
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    if (mismatch.first == expected.end() && mismatch.second == actual.end()) {
        return ::testing::AssertionSuccess();
    }
    const auto offset = static_cast<std::size_t>(mismatch.first - expected.begin());
    std::ostringstream os;
    os << "bytes differ at offset " << offset << " (expected size " << expected.size() << ", actual size "
       << actual.size() << ")";
    if (offset < expected.size() && offset < actual.size()) {
        os << std::hex << ": expected 0x" << unsigned{expected[offset]} << ", actual 0x"
           << unsigned{actual[offset]};
    }
    return ::testing::AssertionFailure() << os.str();
}

std::filesystem::path SharedTestData() {
    std::error_code ec;
    const std::filesystem::path p{ZELORO_SHARED_TESTDATA};
    if (std::filesystem::is_directory(p / "jpeg", ec)) {
        return std::filesystem::canonical(p, ec);
    }
    return {};
}

std::vector<std::filesystem::path> SharedFiles(std::string_view sub) {
    std::vector<std::filesystem::path> files;
    const auto root = SharedTestData();
    if (root.empty()) {
        return files;
    }
    for (const auto& entry : std::filesystem::directory_iterator(root / sub)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

DateTimeValue TimeFromText(std::string_view text) {
    const auto field = [&](std::size_t at, std::size_t length) {
        return ParseInteger<int>(text.substr(at, length)).value_or(0);
    };
    return EncodeDateTime(field(0, 4), field(5, 2), field(8, 2), field(11, 2), field(14, 2), field(17, 2), 0);
}

std::vector<std::filesystem::path> SharedPhotos() {
    std::vector<std::filesystem::path> photos;
    for (const std::string_view sub : {"jpeg", "cameras"}) {
        const auto root = SharedTestData();
        if (root.empty() || !std::filesystem::is_directory(root / sub)) {
            continue;
        }
        for (const auto& file : SharedFiles(sub)) {
            if (IsJpegFileName(file)) {
                photos.push_back(file);
            }
        }
    }
    return photos;
}

bool IsJpegFileName(const std::filesystem::path& path) {
    const std::string extension = path.extension().string();
    return SameTextAscii(extension, ".jpg") || SameTextAscii(extension, ".jpeg");
}

bool InCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0';
}

bool HaveExiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

std::filesystem::path BuildDir() { return ZELORO_BUILD_DIR; }
std::filesystem::path SourceDir() { return ZELORO_SOURCE_DIR; }

ScopedVariable::ScopedVariable(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        old_ = old;
    }
    if (value != nullptr) {
        ::setenv(name_.c_str(), value, 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ScopedVariable::~ScopedVariable() {
    if (old_) {
        ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

}  // namespace zeloro::test
