#pragma once

namespace tarvik {

class BackgroundSender;

// SIGTERM in a process that holds records (a call, the process finishing a
// call's records after the hand-back, a pooled call process): every record
// not yet delivered is written to the spool at once, then the process ends
// by the signal as it would have. Installed with the first sender of a
// process, and only when SIGTERM still has its default action (a service
// that handles SIGTERM itself keeps its own handling). A child forked after
// that starts without it. The process owns the pipe between the handler and
// the watcher thread (close-on-exec: no program it starts gets a copy).
class StopSignal {
public:
    static void watch(BackgroundSender* sender);
    static void forget(BackgroundSender* sender);
};

}  // namespace tarvik
