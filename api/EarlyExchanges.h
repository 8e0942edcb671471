#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "api/ApiRequest.h"
#include "api/BackOfficeRecord.h"
#include "util/ReusedThread.h"

namespace tarvik {

// Requests of the caller's path started as soon as the call is certain to
// make them, so that their answers are in by the time the flow uses them.
// The readiness check and the lookup by calling number go first (the lookup
// only after a ready answer); whatever the flow adds later follows in the
// order added, one at a time, on a thread and a connection of their own
// (the caller's path keeps its first connection for the requests it sends
// itself). The flow still makes its own requests: a request is answered from
// here only when it is the very exchange that was sent early (same method,
// address, headers and body), and only once.
class EarlyExchanges {
public:
    using ReadyJudge = std::function<bool(const KestroAgiDataSourceResult*)>;

    // A record sent early that nobody took, with what the back office said.
    struct Untaken {
        BackOfficeRecord record;
        ApiRequest::Result result;
        TransferFault fault = TransferFault::none;
    };

    // lookup may be null. Both requests are prepared (addressed) already.
    EarlyExchanges(std::unique_ptr<ApiRequest> ready, std::unique_ptr<ApiRequest> lookup, ReadyJudge isReadyAnswer);
    ~EarlyExchanges();
    EarlyExchanges(const EarlyExchanges&) = delete;
    EarlyExchanges& operator=(const EarlyExchanges&) = delete;

    // Sends a prepared request after those started before it. A record is
    // settled by whoever takes its answer (or by finish's caller).
    void add(std::unique_ptr<ApiRequest> request, std::optional<BackOfficeRecord> record = std::nullopt);

    // True when `request` was started early and not taken yet: waits for
    // its answer and moves it into `result` (null: transfer failed, `fault`
    // says why). One still queued behind another is withdrawn instead, with
    // every one queued behind it (false): the flow sends them itself, in its
    // own order, rather than wait for the queue to reach them.
    bool take(const ApiRequest& request, ApiRequest::Result& result, TransferFault& fault);

    // Sends what is still waiting, stops the thread and gives back the
    // records sent early that nobody took. Later calls give nothing.
    std::vector<Untaken> finish();

private:
    enum class State { waiting, answered, skipped, withdrawn, taken };
    struct Exchange {
        std::unique_ptr<ApiRequest> request;
        std::optional<BackOfficeRecord> record;
        bool afterReadyOnly = false;
        State state = State::waiting;
        ApiRequest::Result result;
        TransferFault fault = TransferFault::none;
    };

    void run(const ReadyJudge& isReadyAnswer);
    void queue(std::unique_ptr<ApiRequest> request, std::optional<BackOfficeRecord> record, bool afterReadyOnly);

    std::mutex mutex;
    std::condition_variable changed;
    // Stable addresses: the thread sends one while the flow looks at others.
    std::vector<std::unique_ptr<Exchange>> exchanges;
    std::size_t next = 0;
    bool closing = false;
    ReusedThread worker;
};

}  // namespace tarvik
