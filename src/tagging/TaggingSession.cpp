// src/tagging/TaggingSession.cpp: the front ends' long-lived state and the commands over it.
#include "tagging/TaggingSession.h"

#include <utility>

#include "mapexport/MapPage.h"
#include "tagging/TaggingRun.h"
#include "trackstore/Database.h"
#include "trackstore/TrackStore.h"

namespace zeloro {
namespace {

// Clears the in-progress mark however the run ends, an exception included.
class RunningMark {
public:
    explicit RunningMark(std::atomic<bool>& flag) noexcept : flag_(flag) {}
    ~RunningMark() { flag_ = false; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    std::atomic<bool>& flag_;
};

}  // namespace

TaggingSession::TaggingSession(std::string dataFolder)
    : dataFolder_(std::move(dataFolder)),
      uniCon_(std::make_unique<Connection>()),
      query_(std::make_unique<Query>(*uniCon_)) {}

// The statement object goes before the connection it is bound to.
TaggingSession::~TaggingSession() {
    query_.reset();
    uniCon_.reset();
}

void TaggingSession::Connect() { uniCon_->Open(DatabasePath(dataFolder_)); }

bool TaggingSession::Connected() const noexcept { return uniCon_->Connected(); }

void TaggingSession::Disconnect() noexcept {
    query_->Close();
    uniCon_->Close();
}

RunResult TaggingSession::Run(const RunInputs& inputs, RunObserver& observer, const RunSettings& settings) {
    // The import hands the front end one pass of its event loop; a "Starten" dispatched there must not
    // start a second run over the same lists, statement and transaction.
    if (running_.exchange(true)) {
        return RunResult::busy;
    }
    const RunningMark mark(running_);
    RunContext context{*uniCon_, *query_, imgSL_, mapsSL_};
    return Button1Click(inputs, observer, context, settings);
}

bool TaggingSession::ClearDatabase() {
    // Emptying the table under a running import or lookup would change what the run sees midway.
    if (running_) {
        return false;
    }
    return clearDatabase(*query_);
}

std::optional<std::string> TaggingSession::WriteMapPage() const {
    if (mapsSL_.empty()) {
        return std::nullopt;
    }
    return zeloro::WriteMapPage(dataFolder_, mapsSL_);
}

Connection& TaggingSession::connection() { return *uniCon_; }

Query& TaggingSession::query() { return *query_; }

}  // namespace zeloro
