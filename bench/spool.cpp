// bench-spool: what the record spool costs as it fills, side by side in one
// run: a synced write of one small block on the same file system (the
// floor of any record that survives a power cut), a record stored, a
// call's claim of its back office's oldest records, the per-call counts,
// each with an empty spool and with 1,000,000 records of 10 back offices
// waiting; then --flush-spool's rate against a local back office that
// takes every record, on one kept-alive connection.
// Usage: bench-spool [--records N] [--work DIR]
//        bench-spool --fill DIR --base URL [--records N]   (only fills DIR's
//        spool: N records of 10 back offices at URL, plugin demo/0 to demo/9)

#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "api/KestroAgiRESTFul.h"
#include "bench/BenchReport.h"
#include "records/BackgroundSender.h"
#include "records/RecordFile.h"
#include "records/RecordSpool.h"

using namespace tarvik;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kStoreTargetMs = 0.2;
constexpr double kFlushTargetPerSecond = 5000;
constexpr int kOffices = 10;
// What a call with the back office down leaves (the sample call's records).
constexpr int kRecordsPerCall = 4;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

BackOfficeRecord logEntry(int number) {
    BackOfficeRecord record;
    record.kind = "logger";
    record.method = KestroAgiRESTFul::METHOD_POST;
    record.path = "/service/v1/logger";
    record.headers["Content-Type"] = "application/json";
    record.body = "{\"callerId\":\"11987654321\",\"channel\":\"SIP/trunk-00000001\",\"destination\":\"atendimento\","
                  "\"eventType\":\"trace\",\"linkedId\":\"1796777065." + std::to_string(number) + "\"}";
    record.failureText = "failure on set logger with caller id11987654321";
    return record;
}

BackOfficeIdentity officeNumber(int index, const std::string& base) {
    return BackOfficeIdentity(base, "demo", std::to_string(index));
}

// A synced small write: what every durable store pays at least.
double syncFloor(const std::string& directory, int rounds) {
    const std::string path = directory + "/floor";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<double> times;
    const std::string block(400, 'x');
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        if (::pwrite(fd, block.data(), block.size(), static_cast<off_t>(round) * 4096) < 0 || ::fdatasync(fd) != 0) {
            break;
        }
        times.push_back(millisecondsSince(start));
    }
    ::close(fd);
    return median(times);
}

struct Figures {
    double open = 0;
    double store = 0;
    double storeTogether = 0;  // each of a call's records stored in one commit
    double claim = 0;
    double counts = 0;
};

Figures measure(const std::string& directory, const BackOfficeIdentity& office, int rounds) {
    Figures figures;
    std::vector<double> opens;
    std::vector<double> stores;
    std::vector<double> together;
    std::vector<double> claims;
    std::vector<double> counts;
    for (int round = 0; round < rounds; ++round) {
        // A process per call: each opens the spool afresh.
        RecordSpool spool(directory, office);
        std::string problem;
        auto start = Clock::now();
        spool.usable(true, problem);
        opens.push_back(millisecondsSince(start));
        start = Clock::now();
        spool.store(logEntry(round), problem);
        stores.push_back(millisecondsSince(start));
        std::vector<RecordSpool::ToKeep> call;
        for (int record = 0; record < kRecordsPerCall; ++record) call.push_back({logEntry(round), false, ""});
        start = Clock::now();
        spool.keep(call, problem);
        together.push_back(millisecondsSince(start) / kRecordsPerCall);
        start = Clock::now();
        std::vector<RecordSpool::Claimed> batch = spool.claim(50);
        spool.release(batch);
        claims.push_back(millisecondsSince(start));
        start = Clock::now();
        spool.waitingCount();
        spool.asideCount();
        spool.oldestWaiting();
        counts.push_back(millisecondsSince(start));
    }
    figures.open = median(opens);
    figures.store = median(stores);
    figures.storeTogether = median(together);
    figures.claim = median(claims);
    figures.counts = median(counts);
    return figures;
}

// Fills the spool straight through SQLite in one transaction (the fill is
// not what is measured): `records` spread over the back offices.
bool fillSpool(const std::string& directory, const std::string& base, long records) {
    std::vector<long long> offices;
    for (int index = 0; index < kOffices; ++index) {
        RecordSpool spool(directory, officeNumber(index, base));
        std::string problem;
        if (!spool.store(logEntry(0), problem)) {
            std::cerr << problem << "\n";
            return false;
        }
    }
    sqlite3* database = nullptr;
    if (sqlite3_open((directory + "/spool.db").c_str(), &database) != SQLITE_OK) return false;
    sqlite3_exec(database, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* add = nullptr;
    sqlite3_prepare_v2(database,
                       "INSERT INTO records(office, aside, written, bytes, record)"
                       " VALUES((SELECT id FROM offices WHERE plugin = ?1), 0, ?2, ?3, ?4)",
                       -1, &add, nullptr);
    const long long now = RecordSpool::timeWrittenNow();
    for (long number = 0; number < records; ++number) {
        const int index = static_cast<int>(number % kOffices);
        const std::string text = RecordFile::write(logEntry(static_cast<int>(number)), officeNumber(index, base));
        sqlite3_reset(add);
        const std::string plugin = std::to_string(index);
        sqlite3_bind_text(add, 1, plugin.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(add, 2, now - (records - number) * 1000000LL);
        sqlite3_bind_int64(add, 3, static_cast<long long>(text.size()));
        sqlite3_bind_text(add, 4, text.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(add) != SQLITE_DONE) break;
    }
    sqlite3_finalize(add);
    const bool done = sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(database);
    return done;
}

}  // namespace

int main(int argc, char** argv) {
    long records = 1000000;
    std::string work;
    std::string fill;
    std::string fillBase;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string option = argv[index];
        if (option == "--records") records = std::atol(argv[index + 1]);
        if (option == "--work") work = argv[index + 1];
        if (option == "--fill") fill = argv[index + 1];
        if (option == "--base") fillBase = argv[index + 1];
    }
    if (!fill.empty()) {
        KestroAgiRESTFul::initialiseLibrary();
        return fillSpool(fill, fillBase, records) ? 0 : 1;
    }
    if (work.empty()) {
        char pattern[] = "/var/tmp/bench-spool-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return 1;
        work = pattern;
    }
    KestroAgiRESTFul::initialiseLibrary();
    const int rounds = 500;
    const std::string base = "http://127.0.0.1:1/base";
    const double floor = syncFloor(work, rounds);
    const Figures empty = measure(work + "/empty", officeNumber(0, base), rounds);
    const auto fillStart = Clock::now();
    if (!fillSpool(work + "/full", base, records)) {
        std::cerr << "bench-spool: the spool could not be filled\n";
        return 1;
    }
    const double fillSeconds = millisecondsSince(fillStart) / 1000;
    const Figures full = measure(work + "/full", officeNumber(3, base), rounds);

    // --flush-spool against a back office that takes everything.
    httplib::Server server;
    std::atomic<long> taken{0};
    server.Post("/base/service/v1/logger", [&taken](const httplib::Request&, httplib::Response& answer) {
        ++taken;
        answer.set_content("{}", "application/json");
    });
    // As a real back office answers: no small-write delay on its side.
    server.set_tcp_nodelay(true);
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&server] { server.listen_after_bind(); });
    const std::string flushBase = "http://127.0.0.1:" + std::to_string(port) + "/base";
    // Of these, a tenth belong to the back office flushed (one kept-alive
    // connection): the others wait untouched beside them.
    const long flushed = 200000;
    if (!fillSpool(work + "/flush", flushBase, flushed)) return 1;
    BackgroundSender::Settings settings;
    settings.baseUri = flushBase;
    settings.accessToken = "bench";
    settings.identity = officeNumber(0, flushBase);
    settings.spoolDirectory = work + "/flush";
    BackgroundSender sender(settings);
    const auto flushStart = Clock::now();
    const BackgroundSender::FlushReport report = sender.flushSpool();
    const double flushSeconds = millisecondsSince(flushStart) / 1000;
    server.stop();
    serving.join();
    const double perSecond = flushSeconds > 0 ? static_cast<double>(report.delivered) / flushSeconds : 0;

    std::cout << "Record spool (" << describeMachine() << ", load " << loadAverage() << "), median of " << rounds
              << " rounds; a fresh spool object (a call's process) each round\n";
    TextTable table({"", "empty spool", std::to_string(records) + " waiting, " + std::to_string(kOffices) +
                                            " back offices", "floor: synced 400-byte write"});
    table.add({"open the spool, once per process (ms)", fixed(empty.open, 3), fixed(full.open, 3), ""});
    table.add({"store one record (ms)", fixed(empty.store, 3), fixed(full.store, 3), fixed(floor, 3)});
    table.add({"store " + std::to_string(kRecordsPerCall) + " together, per record (ms)", fixed(empty.storeTogether, 3),
               fixed(full.storeTogether, 3), fixed(floor, 3)});
    table.add({"claim 50 and give back (ms)", fixed(empty.claim, 3), fixed(full.claim, 3), ""});
    table.add({"waiting, aside, oldest (ms)", fixed(empty.counts, 3), fixed(full.counts, 3), ""});
    std::cout << table.render();
    std::cout << "filled " << records << " records in " << fixed(fillSeconds, 1) << " s\n";
    // A lone record pays a synced commit of its own: the floor's write and
    // SQLite's log frames. A call's records stored together share one.
    const bool storeMet = full.storeTogether <= kStoreTargetMs;
    std::cout << "store with the spool full: " << fixed(full.store, 3) << " ms alone, "
              << fixed(full.storeTogether, 3) << " ms each of " << kRecordsPerCall << " stored together, target "
              << fixed(kStoreTargetMs, 1) << " ms: " << (storeMet ? "met" : "MISSED") << " together, "
              << (full.store <= kStoreTargetMs ? "met" : "MISSED") << " alone\n";
    std::cout << "--flush-spool: " << report.delivered << " of " << flushed / kOffices + 1 << " delivered (" << taken
              << " received) in " << fixed(flushSeconds, 2) << " s = " << fixed(perSecond, 0)
              << " records/s, target " << fixed(kFlushTargetPerSecond, 0)
              << ": " << (perSecond >= kFlushTargetPerSecond ? "met" : "MISSED") << "\n";
    std::filesystem::remove_all(work);
    return 0;
}
