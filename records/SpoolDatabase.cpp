#include "records/SpoolDatabase.h"

#include <sqlite3.h>

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

// Writers queue behind each other for at most this long; a store is one
// short transaction, so only a host in real trouble waits that long.
constexpr int kBusyMilliseconds = 30000;
constexpr int kSchemaVersion = 1;

// Counts per back office and kind (waiting or aside) are kept by triggers in
// the same transaction as the records, so bounds and reports read a few rows
// however many records wait.
const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS offices("
    " id INTEGER PRIMARY KEY,"
    " address TEXT NOT NULL, driver TEXT NOT NULL, plugin TEXT NOT NULL,"
    " heldUntil INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE(address, driver, plugin));"
    "CREATE TABLE IF NOT EXISTS records("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " office INTEGER NOT NULL,"
    " aside INTEGER NOT NULL DEFAULT 0,"
    " written INTEGER NOT NULL,"
    " bytes INTEGER NOT NULL,"
    " claimer TEXT,"
    " reason TEXT,"
    " refused TEXT,"
    " record TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS recordsByOffice ON records(office, aside, id);"
    "CREATE INDEX IF NOT EXISTS recordsByAge ON records(aside, id);"
    "CREATE INDEX IF NOT EXISTS recordsClaimed ON records(claimer) WHERE claimer IS NOT NULL;"
    "CREATE TABLE IF NOT EXISTS counts("
    " office INTEGER NOT NULL, aside INTEGER NOT NULL,"
    " records INTEGER NOT NULL DEFAULT 0, bytes INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY(office, aside)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS claimers(marker TEXT PRIMARY KEY) WITHOUT ROWID;"
    "CREATE TRIGGER IF NOT EXISTS recordIn AFTER INSERT ON records BEGIN"
    " INSERT INTO counts(office, aside, records, bytes) VALUES(NEW.office, NEW.aside, 1, NEW.bytes)"
    " ON CONFLICT(office, aside) DO UPDATE SET records = records + 1, bytes = bytes + NEW.bytes;"
    " END;"
    "CREATE TRIGGER IF NOT EXISTS recordOut AFTER DELETE ON records BEGIN"
    " UPDATE counts SET records = records - 1, bytes = bytes - OLD.bytes"
    " WHERE office = OLD.office AND aside = OLD.aside;"
    " END;"
    "CREATE TRIGGER IF NOT EXISTS recordMoved AFTER UPDATE OF office, aside, bytes ON records BEGIN"
    " UPDATE counts SET records = records - 1, bytes = bytes - OLD.bytes"
    " WHERE office = OLD.office AND aside = OLD.aside;"
    " INSERT INTO counts(office, aside, records, bytes) VALUES(NEW.office, NEW.aside, 1, NEW.bytes)"
    " ON CONFLICT(office, aside) DO UPDATE SET records = records + 1, bytes = bytes + NEW.bytes;"
    " END;";

}  // namespace

SpoolDatabase::Statement::Statement(SpoolDatabase& databaseIn, const char* sql) : database(databaseIn) {
    if (database.handle == nullptr ||
        sqlite3_prepare_v2(database.handle, sql, -1, &statement, nullptr) != SQLITE_OK) {
        failed = true;
    }
}

SpoolDatabase::Statement::~Statement() { sqlite3_finalize(statement); }

SpoolDatabase::Statement& SpoolDatabase::Statement::bind(int index, std::int64_t value) {
    if (statement != nullptr && sqlite3_bind_int64(statement, index, value) != SQLITE_OK) failed = true;
    return *this;
}

SpoolDatabase::Statement& SpoolDatabase::Statement::bind(int index, const std::string& value) {
    if (statement != nullptr &&
        sqlite3_bind_text(statement, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) !=
            SQLITE_OK) {
        failed = true;
    }
    return *this;
}

bool SpoolDatabase::Statement::step() {
    if (!ok()) return false;
    const int outcome = sqlite3_step(statement);
    if (outcome == SQLITE_ROW) return true;
    if (outcome != SQLITE_DONE) failed = true;
    return false;
}

bool SpoolDatabase::Statement::run() {
    while (step()) {
    }
    return ok();
}

void SpoolDatabase::Statement::reset() {
    if (statement == nullptr) return;
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    failed = false;
}

std::int64_t SpoolDatabase::Statement::integer(int column) const {
    return statement == nullptr ? 0 : sqlite3_column_int64(statement, column);
}

std::string SpoolDatabase::Statement::text(int column) const {
    if (statement == nullptr) return std::string();
    const unsigned char* value = sqlite3_column_text(statement, column);
    if (value == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(value),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

SpoolDatabase::Transaction::Transaction(SpoolDatabase& databaseIn) : database(databaseIn) {
    active = database.execute("BEGIN IMMEDIATE");
}

SpoolDatabase::Transaction::~Transaction() {
    if (active) database.execute("ROLLBACK");
}

bool SpoolDatabase::Transaction::commit() {
    if (!active) return false;
    if (database.execute("COMMIT")) {
        active = false;
        return true;
    }
    return false;
}

SpoolDatabase::~SpoolDatabase() { sqlite3_close_v2(handle); }

bool SpoolDatabase::open(const std::string& path, bool create, std::string& problem) {
    if (handle != nullptr) return true;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    if (create) flags |= SQLITE_OPEN_CREATE;
    sqlite3* opened = nullptr;
    const int outcome = sqlite3_open_v2(path.c_str(), &opened, flags, nullptr);
    if (outcome != SQLITE_OK) {
        problem = formatBounded("%s cannot be opened: %s", path.c_str(),
                                opened != nullptr ? sqlite3_errmsg(opened) : sqlite3_errstr(outcome));
        sqlite3_close_v2(opened);
        return false;
    }
    handle = opened;
    sqlite3_busy_timeout(handle, kBusyMilliseconds);
    // Every call process opens the spool: keeping the log file between them
    // and leaving checkpoints to the log's size spares each call a log made
    // afresh (two more synced writes) and a checkpoint at its end.
    int keepLog = 1;
    sqlite3_file_control(handle, "main", SQLITE_FCNTL_PERSIST_WAL, &keepLog);
    sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    // A record whose store returned survives a power cut: every commit is
    // synced to the write-ahead log.
    if (!execute("PRAGMA synchronous=FULL") || !prepareSchema(problem)) {
        if (problem.empty()) problem = formatBounded("%s cannot be used: %s", path.c_str(), error().c_str());
        sqlite3_close_v2(handle);
        handle = nullptr;
        return false;
    }
    return true;
}

bool SpoolDatabase::prepareSchema(std::string& problem) {
    std::int64_t found = -1;
    {
        Statement version(*this, "PRAGMA user_version");
        if (version.step()) found = version.integer(0);
        if (found < 0) return false;
    }
    if (found == kSchemaVersion) return true;
    if (found > kSchemaVersion) {
        problem = formatBounded("the spool was written by a newer release (format %lld)",
                                static_cast<long long>(found));
        return false;
    }
    // WAL lets readers go on while one writer commits; the mode is kept in
    // the file, so only its maker sets it.
    {
        Statement wal(*this, "PRAGMA journal_mode=WAL");
        if (!wal.step() || wal.text(0) != "wal") return false;
    }
    Transaction transaction(*this);
    return transaction.begun() && execute(kSchema) &&
           execute(formatBounded("PRAGMA user_version=%d", kSchemaVersion).c_str()) && transaction.commit();
}

bool SpoolDatabase::execute(const char* sql) {
    return handle != nullptr && sqlite3_exec(handle, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string SpoolDatabase::error() const { return handle == nullptr ? "not open" : sqlite3_errmsg(handle); }

bool SpoolDatabase::lastErrorIsFull() const {
    if (handle == nullptr) return false;
    const int code = sqlite3_errcode(handle);
    return code == SQLITE_FULL || code == SQLITE_IOERR;
}

std::int64_t SpoolDatabase::lastInsertId() const {
    return handle == nullptr ? 0 : sqlite3_last_insert_rowid(handle);
}

int SpoolDatabase::changes() const { return handle == nullptr ? 0 : sqlite3_changes(handle); }

}  // namespace tarvik
