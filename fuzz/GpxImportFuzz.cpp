// fuzz/GpxImportFuzz.cpp: the GPX import end to end (file, loader, time texts, inserts) on an
// in-memory track table; afterwards no transaction may be left open.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/Error.h"
#include "gpx/GpxImport.h"
#include "trackstore/Database.h"

namespace {

class NullLog : public zeloro::LogSink {
public:
    void AppendLine(const std::string& /*line*/) override {}
};

// The import reads from a file, so each input is written to one file in a private temporary folder,
// removed with the folder when the process ends.
class InputFile {
public:
    InputFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zeloro-gpx-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            folder_ = pattern;
            path_ = folder_ + "/input.gpx";
        }
    }
    ~InputFile() {
        std::error_code ec;
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_, ec);
        }
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    [[nodiscard]] const std::string& Path() const noexcept { return path_; }

private:
    std::string folder_;
    std::string path_;
};

const std::string& InputPath() {
    static const InputFile file;
    return file.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (InputPath().empty()) {
        return 0;
    }
    std::FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        return 0;
    }
    zeloro::Connection uniCon;
    uniCon.Open(":memory:");
    uniCon.Execute("CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME); CREATE INDEX i ON gpx (utctime);");
    zeloro::Query query(uniCon);
    NullLog log;
    try {
        (void)zeloro::importGpx(InputPath(), uniCon, query, log, [] {});
    } catch (const zeloro::Error&) {
    }
    if (uniCon.InTransaction()) {
        __builtin_trap();  // a failed import must not leave its transaction open
    }
    return 0;
}
