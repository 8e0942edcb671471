#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace tarvik {

// Every printf-like text of the system (commands, log lines, exception
// messages, debug records) is formatted into a 4096-byte buffer and cut at
// 4095 bytes. This is the one place that does it.
constexpr std::size_t kFormatBufferSize = 4096;

std::string formatBoundedV(const char* format, va_list arguments);
std::string formatBounded(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats into a caller's fixed buffer (always terminated, cut at size - 1).
void formatIntoV(char* buffer, std::size_t size, const char* format, va_list arguments);

}  // namespace tarvik
