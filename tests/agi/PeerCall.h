#pragma once

#include <memory>
#include <string>
#include <vector>

#include "agi/KestroAgi.h"
#include "tests/support/ScriptedAsteriskPeer.h"

namespace tarvik::testing {

// One call: a scripted Asterisk on its thread and the real session on the
// test's. Configure `peer` first, then begin(), use `agi()`, then end().
class PeerCall {
public:
    ScriptedAsteriskPeer peer;

    KestroAgi& begin() {
        peer.start();
        session = std::make_unique<KestroAgi>(peer.programIn(), peer.programOut());
        return *session;
    }
    KestroAgi& agi() { return *session; }
    // Ends the call and returns the commands Asterisk received.
    std::vector<std::string> end() {
        session.reset();
        peer.finish();
        return peer.commands();
    }
    ~PeerCall() {
        session.reset();
        peer.finish();
    }

private:
    std::unique_ptr<KestroAgi> session;
};

}  // namespace tarvik::testing
