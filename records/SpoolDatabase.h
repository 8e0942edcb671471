#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace tarvik {

// One connection to a spool's database file (SQLite in WAL mode, every
// commit synced), and the few statement helpers the spool needs. Many
// processes open the same file at once: writers wait for each other up to
// a bound, readers never wait for writers.
class SpoolDatabase {
public:
    class Statement {
    public:
        Statement(SpoolDatabase& database, const char* sql);
        ~Statement();
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;

        Statement& bind(int index, std::int64_t value);
        Statement& bind(int index, const std::string& value);
        // True while a row is there; false at the end or on an error.
        bool step();
        // Runs it to the end; false on an error.
        bool run();
        void reset();
        std::int64_t integer(int column) const;
        std::string text(int column) const;
        bool ok() const { return statement != nullptr && !failed; }

    private:
        SpoolDatabase& database;
        sqlite3_stmt* statement = nullptr;
        bool failed = false;
    };

    // A write transaction (BEGIN IMMEDIATE): commits when told, rolls back
    // otherwise.
    class Transaction {
    public:
        explicit Transaction(SpoolDatabase& database);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        bool begun() const { return active; }
        bool commit();

    private:
        SpoolDatabase& database;
        bool active = false;
    };

    SpoolDatabase() = default;
    ~SpoolDatabase();
    SpoolDatabase(const SpoolDatabase&) = delete;
    SpoolDatabase& operator=(const SpoolDatabase&) = delete;

    // Opens (and with `create`, makes) the file, never through a symbolic
    // link, and sets up the tables once. False with the reason in `problem`.
    bool open(const std::string& path, bool create, std::string& problem);
    bool isOpen() const { return handle != nullptr; }
    bool execute(const char* sql);
    // The last error, for a line.
    std::string error() const;
    // Whether the last error was a full disk or an I/O error.
    bool lastErrorIsFull() const;
    std::int64_t lastInsertId() const;
    int changes() const;

private:
    bool prepareSchema(std::string& problem);

    sqlite3* handle = nullptr;
};

}  // namespace tarvik
