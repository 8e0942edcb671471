#include "tools/backoffice-sim/RequestJournal.h"

#include <cerrno>
#include <cstring>

namespace tarvik {

RequestJournal::~RequestJournal() {
    close();
}

bool RequestJournal::open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* file = std::fopen(path.c_str(), "ae");
    if (file == nullptr) {
        error = "cannot open journal " + path + ": " + std::strerror(errno);
        return false;
    }
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = file;
    return true;
}

void RequestJournal::write(const Json::Value& line) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    // Bodies may hold any bytes; escaping keeps each entry one valid line.
    builder["emitUTF8"] = false;
    std::string text = Json::writeString(builder, line);
    text += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) {
        return;
    }
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

void RequestJournal::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

}  // namespace tarvik
