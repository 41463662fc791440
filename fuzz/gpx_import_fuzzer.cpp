// fuzz/gpx_import_fuzzer.cpp: the GPX import end to end (file, loader, time texts, inserts) on an
// in-memory track table; afterwards no transaction may be left open.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/Error.h"
#include "gpx/GpxImport.h"
#include "trackstore/Database.h"

namespace {

class NullLog : public zeloro::LogSink {
public:
    void AppendLine(const std::string& /*line*/) override {}
};

// The import reads from a file, so each input is written to one private temporary file.
const std::string& InputPath() {
    static const std::string path = [] {
        std::string name = "/tmp/zeloro-gpx-fuzz-" + std::to_string(::getpid()) + ".gpx";
        return name;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
    std::remove(InputPath().c_str());
    return 0;
}
