#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/IvrCall.h"

namespace tarvik::testing::e2e {

inline const std::string kAudios = "/etc/tarvik/kestro/audios/";

// The AGI line that plays a prompt of the default audio directory.
inline std::string background(const std::string& prompt) {
    return "EXEC Background \"" + kAudios + prompt + "\"";
}

// Each of `expected` occurs in `lines`, in this order (others may come between).
inline ::testing::AssertionResult inOrder(const std::vector<std::string>& lines,
                                          const std::vector<std::string>& expected) {
    std::size_t at = 0;
    for (const std::string& wanted : expected) {
        while (at < lines.size() && lines[at] != wanted) ++at;
        if (at == lines.size()) return ::testing::AssertionFailure() << "missing, or out of order: " << wanted;
        ++at;
    }
    return ::testing::AssertionSuccess();
}

// "GET /service/v1/ready", one per journaled request.
inline std::vector<std::string> requestLines(const std::vector<JournalEntry>& journal) {
    std::vector<std::string> lines;
    for (const JournalEntry& entry : journal) lines.push_back(entry.method + " " + entry.path);
    return lines;
}

// The remote log entries of the call, by event type ("" when absent).
inline JournalEntry loggerEntry(const IvrCallResult& result, const std::string& eventType) {
    for (const JournalEntry& entry : result.requests("logger")) {
        if (entry.body["eventType"].asString() == eventType) return entry;
    }
    return JournalEntry{};
}

// What every normal call must show: a clean exit, nothing on standard
// error, one whole command per line, authorized requests only, and the
// hand-over to the dial plan as the last call step.
inline void expectCleanCall(const IvrCallResult& result) {
    EXPECT_EQ(result.exitStatus(), 0);
    EXPECT_EQ(result.child.terminatingSignal, 0);
    EXPECT_EQ(result.child.stderrText, "");
    for (const std::string& command : result.commands()) EXPECT_TRUE(isOneAgiCommand(command)) << command;
    for (const JournalEntry& entry : result.journal) {
        EXPECT_EQ(entry.headers.count("PreAuthorization") ? entry.headers.at("PreAuthorization") : "",
                  "Bearer change-me")
            << entry.path;
        // Lookups of unknown callers answer 404; nothing else may fail.
        EXPECT_TRUE(entry.status < 400 || (entry.status == 404 && (entry.operation == "phone" || entry.operation == "document")))
            << entry.status << " " << entry.method << " " << entry.path << " " << entry.bodyText;
    }
    ASSERT_FALSE(result.commands().empty());
    EXPECT_EQ(result.commands().back(), "VERBOSE \"Player finished by plugin\" 1");
}

}  // namespace tarvik::testing::e2e
