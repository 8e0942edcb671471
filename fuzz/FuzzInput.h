#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvik::fuzz {

// A descriptor positioned at the start of an in-memory copy of data, for the
// readers that take a file descriptor. The caller closes it; -1 on failure.
int memoryDescriptor(const std::uint8_t* data, std::size_t size);

// Writes data to a file in the working directory named after the process id
// and the given suffix (".xml", ".json"), replacing it; returns its name
// without the "./" prefix, or an empty text on failure.
std::string writeWorkingFile(const char* stem, const char* suffix, const std::uint8_t* data, std::size_t size);

// /dev/null opened for writing once per process (the side the program talks
// to when nobody listens).
int nullOutput();

}  // namespace tarvik::fuzz
