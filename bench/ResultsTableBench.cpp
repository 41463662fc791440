// bench/ResultsTableBench.cpp: the window's results table with many photos: the reports taken one by one,
// shown in the view and painted; and a sort by a column of the full table. Offscreen, no display needed.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QHeaderView>
#include <QTableView>
#include <string>
#include <vector>

#include "app/ResultsTable.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "zeloro-bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

std::vector<zeloro::PhotoReport> Reports(int count) {
    std::vector<zeloro::PhotoReport> reports;
    reports.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        zeloro::PhotoReport report;
        report.path = "/home/fotograf/Bilder/Urlaub/IMG_" + std::to_string(i) + ".jpg";
        report.status = i % 20 == 0 ? zeloro::PhotoStatus::noMatch : zeloro::PhotoStatus::tagged;
        report.shotTime = 46000.0 + i / 8640.0;
        report.shotUtc = report.shotTime - 2 / 24.0;
        if (report.status == zeloro::PhotoStatus::tagged) {
            report.lat = "47.6" + std::to_string(i);
            report.lon = "9.17" + std::to_string(i);
            report.distanceSeconds = i % 5;
        } else {
            report.reason = "kein Spurpunkt innerhalb von 5 s";
        }
        reports.push_back(std::move(report));
    }
    return reports;
}

// From the first report to the painted table, as a run of that many photos shows it.
void FillAndPaint(benchmark::State& state) {
    (void)App();
    const std::vector<zeloro::PhotoReport> reports = Reports(static_cast<int>(state.range(0)));
    zeloro::ResultsArea area(nullptr);
    area.resize(640, 260);
    area.show();
    for (auto _ : state) {
        area.Begin(false, false);
        area.SetProgressMax(static_cast<int>(reports.size()));
        int position = 0;
        for (const zeloro::PhotoReport& report : reports) {
            area.Add(report);
            area.SetProgressPosition(++position);
        }
        area.Finish(1.0);
        area.Table()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(FillAndPaint)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A click on a header of the full table: the rows sorted by the shot time, then by the file name.
void SortByHeader(benchmark::State& state) {
    (void)App();
    const std::vector<zeloro::PhotoReport> reports = Reports(static_cast<int>(state.range(0)));
    zeloro::ResultsArea area(nullptr);
    area.resize(640, 260);
    area.show();
    area.Begin(false, false);
    for (const zeloro::PhotoReport& report : reports) {
        area.Add(report);
    }
    area.Finish(1.0);
    int column = 0;
    for (auto _ : state) {
        column = column == zeloro::ResultsModel::kShotUtc ? zeloro::ResultsModel::kFile
                                                          : zeloro::ResultsModel::kShotUtc;
        area.Table()->sortByColumn(column, Qt::AscendingOrder);
        area.Table()->viewport()->repaint();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(SortByHeader)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
