#pragma once

#include <string>
#include <vector>

namespace tarvik {

// Small in-place text helpers shared by the session layer, the emulator and
// the request loader. Stateless; every operation is static.
class StringTools {
public:
    // Remove from the front / back / both ends every character found in
    // `chars`. A null `chars` leaves the text alone.
    static void ltrim(std::string& text, const char* chars);
    static void rtrim(std::string& text, const char* chars);
    static void trim(std::string& text, const char* chars);

    // The same with the space character alone (tabs and line breaks stay).
    static void ltrim(std::string& text);
    static void rtrim(std::string& text);
    static void trim(std::string& text);

    // Replace every occurrence of `search`; inserted text is never scanned
    // again, so "a" -> "aa" terminates. `search` must not be empty (an
    // empty one leaves the text unchanged).
    static void findAndReplaceAll(std::string& text, std::string& search, std::string& replacement);

    // Capture with a POSIX extended expression: at most two matches, each
    // contributing the whole match and then groups 1 and 2 (up to the first
    // group that did not take part). The text never counts as the start of
    // a line, so "^" does not match at its beginning. False for a null
    // argument, a pattern that does not compile or an execution error.
    static bool findRegex(const char* text, const char* pattern, std::vector<std::string>& out);
};

}  // namespace tarvik
