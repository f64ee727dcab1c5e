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

struct Finalize {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

struct BlobClose {
  void operator()(sqlite3_blob* blob) const { sqlite3_blob_close(blob); }
};

using Db = std::unique_ptr<sqlite3, Close>;
using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;
using Blob = std::unique_ptr<sqlite3_blob, BlobClose>;

}  // namespace spectrum::sql
