#pragma once

#include <string>

#include "agi/KestroAgiImpl.h"
#include "util/CText.h"

namespace tarvik {

// Base of every IVR module. The runner sees a module only through this
// class: it hands over extra arguments, the destination and the
// configuration file, then lets the module play the call. A module reports
// a fatal failure only by throwing KestroAgiException.
class IModuleIvr {
public:
    explicit IModuleIvr(const char* name);
    virtual ~IModuleIvr();

    IModuleIvr(const IModuleIvr&) = delete;
    IModuleIvr& operator=(const IModuleIvr&) = delete;

    virtual void play(KestroAgiImpl& session) = 0;
    virtual void setDestination(KestroAgiImpl& session, const char* destination) = 0;
    virtual void loadConfiguration(KestroAgiImpl& session, const char* path) = 0;
    // An extra command-line argument; ignored unless a module wants it.
    virtual void onReadArgument(const char* argument);
    virtual void rename(const char* name);
    // The caller has been handed back to the dial plan (the channel is gone):
    // the module may finish its own work now, for a bounded time.
    virtual void onCallHandedBack();
    // The call is over but the caller could not be handed back before the
    // process ends (no process could be started for it): the dial plan
    // waits for this process, so the module finishes at once. By default
    // as onCallHandedBack.
    virtual void onCallEndedWithoutHandBack();

    // The name, or null.
    const char* getName() const { return name.get(); }
    // Replaces the name with a copy; null clears it.
    void setName(const char* name);

    // Formats printf-style (cut at 4095 bytes) into `out`; a null format
    // leaves `out` as it was.
    static void urlFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Appends exactly the formatted text (no framing) to the file at `path`,
    // opening and closing it on each call; failures are reported through
    // the session's verbose log, never thrown.
    static void logger(KestroAgiImpl& session, const char* path, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // Seconds since midnight of "H:M:S" (fields not range-checked) or of the
    // current local time for "now" (any case); 0 for anything else.
    static int time2Int(const char* text);

private:
    CText name;
};

}  // namespace tarvik
