// Owning handles for SQLite connections and statements.
//
// Only the spectrum library sees SQLite; these keep every handle closed or
// finalized on every path, failures included.
#pragma once

#include <sqlite3.h>

#include <memory>

namespace spectrum::sql {

struct Close {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

// Finalizes a statement, or, for one a connection keeps for reuse (in_use
// set), resets it and hands it back.
struct Finalize {
  bool* in_use = nullptr;
  void operator()(sqlite3_stmt* stmt) const {
    if (in_use == nullptr) {
      sqlite3_finalize(stmt);
      return;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    *in_use = false;
  }
};

struct BlobClose {
  void operator()(sqlite3_blob* blob) const { sqlite3_blob_close(blob); }
};

using Db = std::unique_ptr<sqlite3, Close>;
using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;
using Blob = std::unique_ptr<sqlite3_blob, BlobClose>;

}  // namespace spectrum::sql
