// SQLite's C interface as the catalog index and the report store use it:
// handles that close themselves, and failures raised as the calling layer's
// own error type, so each layer keeps one error convention.
//
// Headers only, and only for the programs that link SQLite (the Linux
// identification side); the Windows builds have no SQLite.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform::sqlite {

struct DbCloser {
  // Closes once the last statement is finalized, whatever order they go in.
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtCloser>;

// The calls that can fail. Error is the layer's exception type (built from
// a std::string); kWhat names the store in its messages: "<kWhat>: <why>".
template <class Error, const char* kWhat>
struct Checked {
  [[noreturn]] static void Fail(sqlite3* db, const std::string& what = kWhat) {
    throw Error(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
  }

  static Db Open(const std::string& path, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) Fail(db.get(), std::string("cannot open ") + kWhat + " " + path);
    return db;
  }

  static void Exec(sqlite3* db, const char* sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
      std::string why = msg ? msg : sqlite3_errmsg(db);
      sqlite3_free(msg);
      throw Error(std::string(kWhat) + ": " + why);
    }
  }

  static Stmt Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) Fail(db);
    return Stmt(s);
  }

  // True while rows come, false when done.
  static bool Step(sqlite3* db, sqlite3_stmt* s) {
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(db);
  }

  // Runs a statement that returns no rows, and makes it ready to run again.
  static void StepDone(sqlite3* db, sqlite3_stmt* s) {
    if (sqlite3_step(s) != SQLITE_DONE) Fail(db);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
};

// Binds a copy: the text may be gone before the statement runs.
inline void Bind(sqlite3_stmt* s, int i, std::string_view v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}
inline void Bind(sqlite3_stmt* s, int i, const std::string& v) {
  Bind(s, i, std::string_view(v));
}
inline void Bind(sqlite3_stmt* s, int i, std::int64_t v) {
  sqlite3_bind_int64(s, i, v);
}

inline std::string Column(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string(reinterpret_cast<const char*>(t),
                         static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string();
}

// Valid until the statement steps, resets or is finalized.
inline std::string_view TextColumnView(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string_view(reinterpret_cast<const char*>(t),
                              static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string_view();
}

// Valid until the statement steps, resets or is finalized.
inline std::string_view BlobColumn(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  return p ? std::string_view(static_cast<const char*>(p),
                              static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string_view();
}

// Ready to run again, with no values bound.
inline void Reset(sqlite3_stmt* s) {
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
}

}  // namespace platform::sqlite
