#pragma once

#include "bench/AgiPeer.h"
#include "bench/CallRunner.h"

#include <chrono>
#include <string>
#include <vector>

namespace tarvik {

// What the caller waited through during one call. Milliseconds.
struct CallerWait {
    bool started = false;
    bool exited = false;      // the started process exited before the deadline
    int exitStatus = -1;
    double firstAudioMs = -1; // start-up block written -> first audio command read
    double deadAirMs = 0;     // over every reply: reply written -> next command read
    double handBackMs = -1;   // last reply written -> the started process's exit
    double wallMs = 0;
    std::vector<std::string> commands;
    std::string error;
};

// Plays an Asterisk whose prompts take time: each audio command is answered
// only after the prompt's length, as if it had played to the end, any other
// command at once. Only the started process is waited for (its pid): a
// child it leaves behind may keep the pipes open, as it does on a real
// server after the call is handed back.
class TimedAgiCall {
public:
    TimedAgiCall(const AgiScript& script, int errorFd, std::chrono::milliseconds promptLength)
        : script_(script), errorFd_(errorFd), promptLength_(promptLength) {}

    CallerWait run(const CallPlan& plan, std::chrono::milliseconds deadline) const;

    // Commands that play audio to the caller: Background, Playback, STREAM
    // FILE, any SAY and GET DATA.
    static bool isAudio(const std::string& command);

private:
    const AgiScript& script_;
    int errorFd_;
    std::chrono::milliseconds promptLength_;
};

}  // namespace tarvik
