#pragma once

#include <memory>
#include <string>
#include <vector>

#include "api/RecordPath.h"
#include "records/BackgroundSender.h"

namespace tarvik {

// The records of one call: where the back-office client hands them, how
// long they may still travel after the caller was handed back, and what is
// said about those not delivered. All of one back office (the one of the
// call's configuration); the sender and its spool are made at the start of
// the call, so a process that forks for the hand-back does so before any
// thread of this class exists.
class CallRecords : public RecordPath {
public:
    // With `background` off records travel on the caller's path and only
    // the spool takes what the back office did not.
    CallRecords(BackgroundSender::Settings settings, bool background, long pendingSeconds);
    ~CallRecords();
    CallRecords(const CallRecords&) = delete;
    CallRecords& operator=(const CallRecords&) = delete;

    // At the start of the call: the sender starts and takes spooled records first.
    void start();
    // After the call's last channel command: delivers what is pending for at
    // most the pending limit; the rest waits in the spool. Lines it has left
    // go to standard error (the caller is gone).
    void finish() { finish(pendingSeconds); }
    // The same with another limit (0: what is pending goes to the spool now).
    void finish(long limitSeconds);

    void send(BackOfficeRecord record) override;
    void settle(const BackOfficeRecord& record, const KestroAgiDataSourceResult* answer,
                TransferFault fault) override;
    std::vector<std::string> takeNotices() override;

private:
    BackgroundSender& sender();

    BackgroundSender::Settings settings;
    bool background;
    long pendingSeconds;
    std::unique_ptr<BackgroundSender> running;
    bool finished = false;
};

}  // namespace tarvik
