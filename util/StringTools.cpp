#include "util/StringTools.h"

#include <regex.h>

#include <cstdio>

namespace tarvik {

namespace {

constexpr const char* kSpace = " ";
constexpr int kMaxMatches = 2;
constexpr std::size_t kCapturedPerMatch = 3;  // whole match, group 1, group 2

}  // namespace

void StringTools::ltrim(std::string& text, const char* chars) {
    if (chars == nullptr) return;
    std::size_t first = text.find_first_not_of(chars);
    if (first == std::string::npos) {
        text.clear();
    } else {
        text.erase(0, first);
    }
}

void StringTools::rtrim(std::string& text, const char* chars) {
    if (chars == nullptr) return;
    std::size_t last = text.find_last_not_of(chars);
    if (last == std::string::npos) {
        text.clear();
    } else {
        text.erase(last + 1);
    }
}

void StringTools::trim(std::string& text, const char* chars) {
    ltrim(text, chars);
    rtrim(text, chars);
}

void StringTools::ltrim(std::string& text) { ltrim(text, kSpace); }

void StringTools::rtrim(std::string& text) { rtrim(text, kSpace); }

void StringTools::trim(std::string& text) { trim(text, kSpace); }

void StringTools::findAndReplaceAll(std::string& text, std::string& search, std::string& replacement) {
    if (search.empty()) return;
    std::size_t position = text.find(search);
    while (position != std::string::npos) {
        text.replace(position, search.size(), replacement);
        position = text.find(search, position + replacement.size());
    }
}

bool StringTools::findRegex(const char* text, const char* pattern, std::vector<std::string>& out) {
    out.clear();
    if (text == nullptr || pattern == nullptr) return false;

    regex_t expression;
    if (regcomp(&expression, pattern, REG_EXTENDED) != 0) return false;

    const char* cursor = text;
    for (int match = 0; match < kMaxMatches; ++match) {
        regmatch_t groups[kCapturedPerMatch];
        int status = regexec(&expression, cursor, kCapturedPerMatch, groups, REG_NOTBOL);
        if (status == REG_NOMATCH) break;
        if (status != 0) {
            char message[256];
            regerror(status, &expression, message, sizeof(message));
            std::fprintf(stderr, "%s\n", message);
            regfree(&expression);
            return false;
        }
        for (std::size_t group = 0; group < kCapturedPerMatch; ++group) {
            if (groups[group].rm_so < 0) break;
            out.emplace_back(cursor + groups[group].rm_so,
                             static_cast<std::size_t>(groups[group].rm_eo - groups[group].rm_so));
        }
        // An empty match would find itself again: step over one character.
        regoff_t end = groups[0].rm_eo;
        if (end == groups[0].rm_so) {
            if (cursor[end] == '\0') break;
            ++end;
        }
        cursor += end;
    }
    regfree(&expression);
    return true;
}

}  // namespace tarvik
