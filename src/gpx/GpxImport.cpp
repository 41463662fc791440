// src/gpx/GpxImport.cpp: the import of a GPX file's timed points into the track table.
#include "gpx/GpxImport.h"

#include <array>
#include <string_view>

#include "xml/XmlDocument.h"

namespace zeloro {

namespace {

constexpr std::array<std::string_view, 3> kPointNames{"wpt", "trkpt", "rtept"};

void RollbackQuietly(Connection& uniCon) noexcept {
    try {
        if (uniCon.InTransaction()) {
            uniCon.Rollback();
        }
    } catch (...) {  // NOLINT(bugprone-empty-catch): the import has already failed; nothing more to report
    }
}

struct ImportStopped {};

}  // namespace

bool importGpx(const std::string& gpxPath, Connection& uniCon, Query& query, LogSink& log,
               const std::function<void()>& processMessages, const std::function<bool()>& stopRequested) {
    LogLine(log, kLogImportStart);
    bool result = true;
    long long counter = 0;
    query.Close();
    query.SetSQL(kGpxInsertStatement);
    {
        TXmlNodeList list;
        TXmlDocument document;
        // Loading lies outside the error trap: a file that cannot be read ends the caller's run.
        try {
            document.LoadFromFile(gpxPath);
        } catch (const std::exception& e) {
            // Still outside the trap and with the loader's text; the type tells a front end it was the
            // import.
            throw GpxLoadError(e.what());
        }
        document.SetXmlFormat(TXmlFormatType::xfReadable);
        if (processMessages) {
            processMessages();
        }
        bool startedHere = false;
        try {
            const TXmlNode* root = document.Root();
            if (root != nullptr) {
                if (!uniCon.InTransaction()) {
                    uniCon.StartTransaction();
                    startedHere = true;
                }
                Param& lat = query.ParamByName("lat");
                Param& lon = query.ParamByName("lon");
                Param& utctime = query.ParamByName("utctime");
                for (const std::string_view name : kPointNames) {
                    list.Clear();
                    root->FindNodes(name, list);
                    for (int i = 0; i < list.Count(); ++i) {
                        if (stopRequested && stopRequested()) {
                            throw ImportStopped();  // into the trap below, like any failure of the import
                        }
                        const TXmlNode* point = list[i];
                        const TXmlNode* time = point->NodeByName("time");
                        if (time == nullptr) {
                            continue;  // an untimed point is of no use to the lookup
                        }
                        lat.SetAsString(point->AttributeTextByName("lat"));
                        lon.SetAsString(point->AttributeTextByName("lon"));
                        utctime.SetAsDateTime(time->ValueAsDateTime());
                        query.ExecSQL();
                        ++counter;
                    }
                }
                uniCon.Commit();
            }
        } catch (...) {
            result = false;
            LogLine(log, kLogImportFailed);
            // Rows of a failed import must not become permanent with a later commit, and "Leeren" must
            // find no transaction open: undo the transaction this import began. One the caller began
            // belongs to the caller.
            if (startedHere) {
                RollbackQuietly(uniCon);
            }
        }
    }
    LogLine(log, " - " + std::to_string(counter) + kLogImportCountSuffix);
    return result;
}

}  // namespace zeloro
