#pragma once

// Checks shared by the fault and hostile-input calls (Fault*Test.cpp,
// Hostile*Test.cpp): what a well-behaved program may write to Asterisk,
// and what it must have told the back office.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/IvrCall.h"

namespace tarvik::testing::faults {

// Asterisk takes a command line of at most this many bytes.
constexpr std::size_t kMaxAgiLine = 2046;

inline bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

inline bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The text of `VERBOSE "..." 1` / `EXEC NoOp "..." 1` with its escapes
// undone; false when the quoting is broken (a bare quote inside, a dangling
// backslash, or a different frame).
inline bool unquoteMessage(const std::string& command, std::string& text) {
    std::string prefix;
    if (startsWith(command, "VERBOSE \"")) prefix = "VERBOSE \"";
    if (startsWith(command, "EXEC NoOp \"")) prefix = "EXEC NoOp \"";
    if (prefix.empty() || command.size() < prefix.size() + 3 || !endsWith(command, "\" 1")) return false;
    std::string inner = command.substr(prefix.size(), command.size() - prefix.size() - 3);
    text.clear();
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '"') return false;
        if (inner[i] == '\\' && ++i == inner.size()) return false;
        text += inner[i];
    }
    return true;
}

// Every line the peer received is one whole command of the program's own
// forms: nothing injected by a text (no bare "HANGUP", no line made of the
// rest of a message), no broken quoting, nothing longer than Asterisk takes.
inline void expectOnlyProgramCommands(const std::vector<std::string>& commands) {
    // prefix, required ending, whether the part between is a quoted text
    static const std::vector<std::pair<std::string, std::string>> kForms = {
        {"EXEC Goto ", ""},      {"EXEC Set ", ""},         {"SAY DIGITS ", " #"},
        {"SAY NUMBER ", " #"},   {"SAY TIME ", " #"},       {"WAIT FOR DIGIT ", ""},
        {"GET DATA ", ""},       {"GET VARIABLE ", ""},     {"EXEC Playback \"", "\""},
        {"EXEC Background \"", "\""},
    };
    for (const std::string& command : commands) {
        EXPECT_LE(command.size(), kMaxAgiLine) << command.substr(0, 80);
        EXPECT_EQ(command.find('\r'), std::string::npos) << "carriage return in: " << command.substr(0, 200);
        std::string text;
        if (command == "ANSWER") continue;
        if (startsWith(command, "VERBOSE ") || startsWith(command, "EXEC NoOp ")) {
            EXPECT_TRUE(unquoteMessage(command, text)) << "broken quoting: " << command.substr(0, 200);
            continue;
        }
        // A line cut at the limit (up to a whole UTF-8 character short of
        // it) has lost its ending.
        bool cut = command.size() + 4 >= kMaxAgiLine;
        bool known = false;
        for (const auto& form : kForms) {
            if (!startsWith(command, form.first) || (!cut && !endsWith(command, form.second))) continue;
            known = true;
            if (form.first.back() == '"') {
                std::string::size_type quote = command.find('"', form.first.size());
                known = quote == std::string::npos ? cut : quote == command.size() - 1;
            }
            break;
        }
        EXPECT_TRUE(known) << "not a command of the program: " << command.substr(0, 200);
    }
}

// The messages the program logged (VERBOSE and NoOp), unescaped.
inline std::vector<std::string> loggedMessages(const std::vector<std::string>& commands) {
    std::vector<std::string> messages;
    std::string text;
    for (const std::string& command : commands) {
        if (unquoteMessage(command, text)) messages.push_back(text);
    }
    return messages;
}

// Whether some message is `expected` itself, or a cut of it at the line
// limit keeping at least `minimum` bytes.
inline bool loggedLiterally(const std::vector<std::string>& commands, const std::string& expected,
                            std::size_t minimum = 1500) {
    for (const std::string& message : loggedMessages(commands)) {
        if (message == expected) return true;
        if (message.size() >= minimum && message.size() < expected.size() && startsWith(expected, message)) return true;
    }
    return false;
}

// How a text travels on an AGI line: line breaks become spaces.
inline std::string onOneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

// The "eventType" of each remote log entry the back office received, in order.
inline std::vector<std::string> remoteLogTypes(const IvrCallResult& result) {
    std::vector<std::string> types;
    for (const JournalEntry& entry : result.requests("logger")) types.push_back(entry.body["eventType"].asString());
    return types;
}

// The destination key of the call's one "forward" remote log entry ("" when
// there is none), checking that one "forward" event with the same key went
// with it.
inline std::string forwardedKey(const IvrCallResult& result) {
    std::vector<std::string> logged, events;
    for (const JournalEntry& entry : result.requests("logger")) {
        if (entry.body["eventType"].asString() == "forward") logged.push_back(entry.body["destination"].asString());
    }
    for (const JournalEntry& entry : result.requests("event")) {
        if (entry.body["event"].asString() == "forward") events.push_back(entry.body["data"].asString());
    }
    EXPECT_EQ(logged.size(), 1u) << "forward remote log entries";
    EXPECT_EQ(events, logged) << "forward events";
    return logged.size() == 1 ? logged.front() : "";
}

inline std::string gotoExit(const std::string& key) { return "EXEC Goto ivr-exits," + key + ",1"; }

// The call's commands and standard error, for failure output.
inline std::string transcript(const IvrCallResult& result) {
    std::string text = "commands:\n";
    for (const std::string& command : result.commands()) text += "  " + command.substr(0, 300) + "\n";
    return text + "stderr:\n" + result.child.stderrText;
}

}  // namespace tarvik::testing::faults
