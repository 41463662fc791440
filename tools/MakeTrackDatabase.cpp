// tools/MakeTrackDatabase.cpp: builds the delivered track database from its schema file.
// Usage: zeloro_make_track_database SCHEMA.sql OUTPUT.sqlite
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace {

struct CloseDb {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct FreeMessage {
    void operator()(char* message) const noexcept { sqlite3_free(message); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " SCHEMA.sql OUTPUT.sqlite\n";
        return 2;
    }
    const std::string schemaPath = argv[1];
    const std::string outputPath = argv[2];
    std::ifstream schemaFile(schemaPath, std::ios::binary);
    if (!schemaFile) {
        std::cerr << "cannot read " << schemaPath << "\n";
        return 1;
    }
    std::ostringstream schema;
    schema << schemaFile.rdbuf();

    // Built beside the target and renamed over it, so an interrupted build never leaves half a file.
    const std::string temporary = outputPath + ".tmp";
    std::remove(temporary.c_str());
    {
        sqlite3* raw = nullptr;
        const int rc =
            sqlite3_open_v2(temporary.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        const std::unique_ptr<sqlite3, CloseDb> db(raw);
        if (rc != SQLITE_OK) {
            std::cerr << temporary << ": " << (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc))
                      << "\n";
            return 1;
        }
        char* rawMessage = nullptr;
        const int execRc = sqlite3_exec(db.get(), schema.str().c_str(), nullptr, nullptr, &rawMessage);
        const std::unique_ptr<char, FreeMessage> message(rawMessage);
        if (execRc != SQLITE_OK) {
            std::cerr << schemaPath << ": " << (message ? message.get() : sqlite3_errstr(execRc)) << "\n";
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), outputPath.c_str()) != 0) {
        std::perror(outputPath.c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
