// src/trackstore/ImportSavepoint.h: the transaction an import writes its rows in, so that a file that
// fails anywhere leaves nothing behind and one that fails at a point leaves what a failed import leaves.
#pragma once
#include <string>

#include "trackstore/Database.h"

namespace zeloro {

class ImportSavepoint {
public:
    // name: the savepoint's name, a plain identifier.
    ImportSavepoint(Connection& connection, std::string name);
    ~ImportSavepoint() = default;
    ImportSavepoint(const ImportSavepoint&) = delete;
    ImportSavepoint& operator=(const ImportSavepoint&) = delete;

    // Starts a transaction unless the caller has one open, then the savepoint. Throws DatabaseError.
    void Begin();
    // Releases the savepoint and commits, a transaction the caller had open too (as the import always
    // has). Throws DatabaseError; the transaction is then still open.
    void Commit();
    // The import failed at a point or was stopped: a transaction begun here is rolled back, so no part of a
    // failed import becomes permanent later; in the caller's transaction the rows stay.
    void KeepFailure() noexcept;
    // The file did not load: nothing of this import stays, in either transaction.
    void Undo() noexcept;

    // Whether Begin started the transaction (and no Commit, KeepFailure or Undo has ended it).
    [[nodiscard]] bool StartedHere() const noexcept { return startedHere_; }

private:
    Connection& connection_;
    std::string name_;
    bool startedHere_ = false;
    bool open_ = false;
};

}  // namespace zeloro
