// src/trackstore/ImportSavepoint.cpp
#include "trackstore/ImportSavepoint.h"

#include <utility>

namespace zeloro {

namespace {

void RollbackQuietly(Connection& connection) noexcept {
    try {
        if (connection.InTransaction()) {
            connection.Rollback();
        }
    } catch (...) {  // NOLINT(bugprone-empty-catch): the import has already failed; nothing more to report
    }
}

}  // namespace

ImportSavepoint::ImportSavepoint(Connection& connection, std::string name)
    : connection_(connection), name_(std::move(name)) {}

void ImportSavepoint::Begin() {
    if (!connection_.InTransaction()) {
        connection_.StartTransaction();
        startedHere_ = true;
    }
    connection_.Execute("SAVEPOINT " + name_);
    open_ = true;
}

void ImportSavepoint::Commit() {
    if (open_) {
        connection_.Execute("RELEASE " + name_);
        open_ = false;
    }
    connection_.Commit();
    startedHere_ = false;
}

void ImportSavepoint::KeepFailure() noexcept {
    if (startedHere_) {
        RollbackQuietly(connection_);
    } else if (open_) {
        try {
            connection_.Execute("RELEASE " + name_);
        } catch (...) {  // NOLINT(bugprone-empty-catch): the caller's transaction ends it
        }
    }
    open_ = false;
    startedHere_ = false;
}

void ImportSavepoint::Undo() noexcept {
    try {
        if (open_) {
            connection_.Execute("ROLLBACK TO " + name_);
            connection_.Execute("RELEASE " + name_);
        }
    } catch (...) {  // NOLINT(bugprone-empty-catch): the transaction's rollback below ends it
    }
    if (startedHere_) {
        RollbackQuietly(connection_);
    }
    open_ = false;
    startedHere_ = false;
}

}  // namespace zeloro
