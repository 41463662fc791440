// src/trackstore/TrackRows.cpp
#include "trackstore/TrackRows.h"

#include <array>
#include <span>
#include <string_view>
#include <utility>

#include "trackstore/TrackDetails.h"

namespace zeloro {

namespace {

constexpr std::string_view kTable = "gpx";
constexpr std::array<std::string_view, 3> kColumns{"lat", "lon", "utctime"};
constexpr std::array<std::string_view, 5> kDetailColumns{"lat", "lon", "utctime", kElevationColumn,
                                                         kSegmentColumn};

std::span<const std::string_view> Columns(bool withDetails) {
    return withDetails ? std::span<const std::string_view>(kDetailColumns)
                       : std::span<const std::string_view>(kColumns);
}

}  // namespace

TrackRows::TrackRows(Query& query, bool withDetails, long long& counter)
    : query_(query), withDetails_(withDetails), counter_(counter) {
    static constexpr std::array<const char*, 5> kParams{"lat", "lon", "utctime", "ele", "segment"};
    for (std::size_t column = 0; column < Columns(withDetails).size(); ++column) {
        params_[column] = &query.ParamByName(kParams[column]);
    }
}

TrackRows::~TrackRows() = default;

void TrackRows::UseBatch(Connection& connection, std::size_t rows) {
    if (!InsertBatch::TableHasTriggers(connection, kTable)) {
        batch_.emplace(connection, kTable, Columns(withDetails_), rows);
        pending_ = 0;
    }
}

void TrackRows::Direct() noexcept {
    batch_.reset();
    pending_ = 0;
}

std::string& TrackRows::Text(TrackColumn column) noexcept {
    return batch_ ? batch_->Text(pending_, column) : single_[column];
}

void TrackRows::SetNull(TrackColumn column, bool null) noexcept {
    if (batch_) {
        batch_->SetNull(pending_, column, null);
    } else {
        singleNull_[column] = null;
    }
}

void TrackRows::Add() {
    if (!batch_) {
        const std::size_t columns = Columns(withDetails_).size();
        for (std::size_t column = 0; column < columns; ++column) {
            Bind(column, single_[column], singleNull_[column]);
        }
        query_.ExecSQL();
        ++counter_;
        return;
    }
    if (++pending_ == batch_->Rows()) {
        Flush();
    }
}

void TrackRows::Flush() {
    if (!batch_) {
        return;
    }
    const std::size_t rows = std::exchange(pending_, 0);
    if (rows == 0) {
        return;
    }
    if (rows == batch_->Rows()) {
        try {
            batch_->Exec();
            counter_ += static_cast<long long>(rows);
            return;
        } catch (const InsertBatchError& error) {
            if (!error.Replayable()) {
                counter_ += static_cast<long long>(error.Kept());
                throw;
            }
        }
    }
    for (std::size_t row = 0; row < rows; ++row) {
        const std::size_t columns = Columns(withDetails_).size();
        for (std::size_t column = 0; column < columns; ++column) {
            Bind(column, batch_->Text(row, column), batch_->IsNull(row, column));
        }
        query_.ExecSQL();
        ++counter_;
    }
}

void TrackRows::Bind(std::size_t column, const std::string& text, bool null) {
    Param& param = *params_[column];
    if (null) {
        param.Clear();
    } else {
        param.SetAsString(text);
    }
}

}  // namespace zeloro
