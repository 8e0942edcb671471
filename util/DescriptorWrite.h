#pragma once

#include <cstddef>

namespace tarvik {

// Writes all of `size` bytes to a descriptor, going on after short writes
// and interrupted calls. False when the descriptor refuses (EPIPE included:
// the programs ignore SIGPIPE).
bool writeAll(int fd, const char* data, std::size_t size);

}  // namespace tarvik
