#pragma once

#include <json/json.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace tarvik {

// Appends one compact JSON line per request to a file, flushed at once so
// that a reader sees each line while the simulator runs. Closed journals
// write nothing.
class RequestJournal {
public:
    RequestJournal() = default;
    ~RequestJournal();
    RequestJournal(const RequestJournal&) = delete;
    RequestJournal& operator=(const RequestJournal&) = delete;

    bool open(const std::string& path, std::string& error);
    void write(const Json::Value& line);
    void close();

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

}  // namespace tarvik
