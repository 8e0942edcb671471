#include "api/EarlyExchanges.h"

#include <cstdio>
#include <utility>

#include "api/ConnectionCache.h"

namespace tarvik {

namespace {

// The caller's path's second connection: early requests go one at a time
// over it, kept open across the calls a process serves, while the flow's
// own requests keep the first.
ConnectionCache* earlyConnections() {
    KestroAgiRESTFul::initialiseLibrary();
    static ConnectionCache cache;
    return &cache;
}

}  // namespace

EarlyExchanges::EarlyExchanges(std::unique_ptr<ApiRequest> readyRequest, std::unique_ptr<ApiRequest> lookupRequest,
                               ReadyJudge isReadyAnswer) {
    queue(std::move(readyRequest), std::nullopt, false);
    if (lookupRequest) queue(std::move(lookupRequest), std::nullopt, true);
    if (worker.start([this, judge = std::move(isReadyAnswer)] { run(judge); })) return;
    // No thread for them (the host is out of tasks): nothing is sent early,
    // and the flow makes every request itself, as without early requests.
    closing = true;
    for (auto& exchange : exchanges) exchange->state = State::withdrawn;
    std::fputs("could not start the early requests' thread: the call makes its requests in line\n", stderr);
}

EarlyExchanges::~EarlyExchanges() { finish(); }

void EarlyExchanges::queue(std::unique_ptr<ApiRequest> request, std::optional<BackOfficeRecord> record,
                           bool afterReadyOnly) {
    request->useConnections(earlyConnections());
    auto exchange = std::make_unique<Exchange>();
    exchange->request = std::move(request);
    exchange->record = std::move(record);
    exchange->afterReadyOnly = afterReadyOnly;
    exchanges.push_back(std::move(exchange));
}

void EarlyExchanges::add(std::unique_ptr<ApiRequest> request, std::optional<BackOfficeRecord> record) {
    if (!request) return;
    {
        std::lock_guard<std::mutex> guard(mutex);
        // Once finished nothing more is sent: the flow sends it itself.
        if (closing) return;
        queue(std::move(request), std::move(record), false);
    }
    changed.notify_all();
}

void EarlyExchanges::run(const ReadyJudge& isReadyAnswer) {
    std::unique_lock<std::mutex> lock(mutex);
    bool ready = false;
    for (;;) {
        changed.wait(lock, [this] { return next < exchanges.size() || closing; });
        if (next >= exchanges.size()) return;
        Exchange& exchange = *exchanges[next];
        if (exchange.state == State::withdrawn) {
            // the flow sends it itself
        } else if (exchange.afterReadyOnly && !ready) {
            exchange.state = State::skipped;
        } else {
            // The request itself is only read by others while it travels.
            lock.unlock();
            ApiRequest::Result result = exchange.request->send();
            const TransferFault fault = exchange.request->lastFault();
            lock.lock();
            if (next == 0) ready = isReadyAnswer(result.get());
            exchange.result = std::move(result);
            exchange.fault = fault;
            exchange.state = State::answered;
        }
        ++next;
        changed.notify_all();
    }
}

bool EarlyExchanges::take(const ApiRequest& request, ApiRequest::Result& result, TransferFault& fault) {
    std::unique_lock<std::mutex> lock(mutex);
    for (std::size_t index = 0; index < exchanges.size(); ++index) {
        Exchange& exchange = *exchanges[index];
        if (exchange.state != State::waiting && exchange.state != State::answered) continue;
        if (!exchange.request->sameAs(request)) continue;
        if (index > next) {
            // Still behind another: waiting would add that one's round trip.
            for (std::size_t later = index; later < exchanges.size(); ++later) {
                if (exchanges[later]->state == State::waiting) exchanges[later]->state = State::withdrawn;
            }
            return false;
        }
        changed.wait(lock, [&exchange] { return exchange.state != State::waiting; });
        if (exchange.state != State::answered) return false;
        result = std::move(exchange.result);
        fault = exchange.fault;
        exchange.state = State::taken;
        return true;
    }
    return false;
}

std::vector<EarlyExchanges::Untaken> EarlyExchanges::finish() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        closing = true;
    }
    changed.notify_all();
    if (worker.joinable()) worker.join();
    std::vector<Untaken> untaken;
    std::lock_guard<std::mutex> guard(mutex);
    for (auto& candidate : exchanges) {
        Exchange& exchange = *candidate;
        if (exchange.state != State::answered || !exchange.record) continue;
        untaken.push_back(Untaken{std::move(*exchange.record), std::move(exchange.result), exchange.fault});
        exchange.state = State::taken;
    }
    return untaken;
}

}  // namespace tarvik
