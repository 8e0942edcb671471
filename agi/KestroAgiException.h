#pragma once

#include <exception>

namespace tarvik {

// The framework's one exception type. Codes in use: 400 unparseable AGI
// reply, 409 robot file / XML request loading, 500 digit collection and
// malformed robot entries.
class KestroAgiException : public std::exception {
public:
    KestroAgiException(int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    KestroAgiException(const char* extra, int code, const char* format, ...) __attribute__((format(printf, 4, 5)));

    const char* what() const noexcept override { return message; }
    int getCode() const { return code; }
    const char* getExtra() const { return extra; }

private:
    char message[4096] = {};
    int code = 0;
    char extra[32] = {};
};

}  // namespace tarvik
