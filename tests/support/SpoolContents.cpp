#include "tests/support/SpoolContents.h"

#include <sqlite3.h>

#include <json/json.h>

#include <sstream>

namespace tarvik::testing {

namespace {

std::string column(sqlite3_stmt* statement, int index) {
    const unsigned char* text = sqlite3_column_text(statement, index);
    return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
}

std::vector<SpooledRow> rowsWhere(const std::string& directory, int aside) {
    std::vector<SpooledRow> rows;
    sqlite3* database = nullptr;
    const std::string path = directory + "/spool.db";
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(database);
        return rows;
    }
    sqlite3_busy_timeout(database, 10000);
    sqlite3_stmt* statement = nullptr;
    const char* sql =
        "SELECT r.id, o.address, r.aside, IFNULL(r.claimer, ''), r.record FROM records r"
        " JOIN offices o ON o.id = r.office WHERE ?1 < 0 OR r.aside = ?1 ORDER BY r.id";
    if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_int(statement, 1, aside);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            SpooledRow row;
            row.id = sqlite3_column_int64(statement, 0);
            row.address = column(statement, 1);
            row.aside = sqlite3_column_int(statement, 2) != 0;
            row.claimer = column(statement, 3);
            row.record = column(statement, 4);
            Json::Value parsed;
            Json::CharReaderBuilder reader;
            std::istringstream text(row.record);
            if (Json::parseFromStream(reader, text, &parsed, nullptr)) row.body = parsed["body"].asString();
            rows.push_back(row);
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close_v2(database);
    return rows;
}

}  // namespace

std::vector<SpooledRow> spooledRows(const std::string& directory) { return rowsWhere(directory, -1); }

std::vector<SpooledRow> waitingRows(const std::string& directory) { return rowsWhere(directory, 0); }

std::vector<SpooledRow> asideRows(const std::string& directory) { return rowsWhere(directory, 1); }

}  // namespace tarvik::testing
