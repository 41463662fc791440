// fuzz/GpxImportFuzz.cpp: the GPX import end to end (file, loader, time texts, inserts) on an
// in-memory track table; afterwards no transaction may be left open, and the import that inserts while
// it reads must give what the import over the whole tree gives: result or error, log and rows.
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

class TextLog : public zeloro::LogSink {
public:
    void AppendLine(const std::string& line) override {
        const std::size_t at = line.find(" - ");  // without the time stamp
        text += (at == std::string::npos ? line : line.substr(at)) + "\n";
    }
    std::string text;
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

// The result or error, what it says of the point it failed at, the log and the rows of one import, as
// text.
std::string Outcome(bool streamed, zeloro::ImportDetails details) {
    zeloro::Connection uniCon;
    uniCon.Open(":memory:");
    uniCon.Execute(
        "CREATE TABLE gpx (lat TEXT, lon TEXT, utctime DATETIME); CREATE INDEX i ON gpx (utctime);");
    zeloro::Query query(uniCon);
    TextLog log;
    std::string outcome;
    std::string failure;
    try {
        const bool ok = (streamed ? zeloro::importGpx : zeloro::importGpxTree)(
            InputPath(), uniCon, query, log, [] {}, details, {}, &failure);
        outcome = ok ? "true\n" : "false\n";
    } catch (const zeloro::Error& e) {
        outcome = std::string(e.what()) + "\n";
    }
    outcome += failure + "\n";
    if (uniCon.InTransaction()) {
        __builtin_trap();  // a failed import must not leave its transaction open
    }
    outcome += log.text;
    zeloro::Query rows(uniCon);
    rows.SetSQL("SELECT rowid AS r, * FROM gpx ORDER BY rowid");
    for (rows.Open(); !rows.Eof(); rows.Next()) {
        for (const zeloro::Field& field : rows.Fields()) {
            outcome += (field.IsNull() ? std::string("NULL") : field.AsString()) + "|";
        }
        outcome += "\n";
    }
    return outcome;
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
    // The input's length picks the kind of import, so that the corpus reaches both.
    const auto details =
        size % 2 == 0 ? zeloro::ImportDetails::positionsOnly : zeloro::ImportDetails::elevationAndSegments;
    const std::string streamed = Outcome(true, details);
    if (streamed != Outcome(false, details)) {
        __builtin_trap();  // the two imports disagree
    }
    return 0;
}
