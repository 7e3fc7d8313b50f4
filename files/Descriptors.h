#pragma once

#include <cstddef>
#include <string_view>
#include <sys/types.h>

namespace qm {

// Reading and writing a file descriptor whole, through interruptions and short counts.

// Writes all of the bytes at the descriptor's position; 0, or the error that stopped it.
int WriteAll(int fd, std::string_view bytes);
// Fills `data` from `offset` on; 0 or the error (EIO where the file ends sooner).
int ReadAt(int fd, char* data, std::size_t size, off_t offset);

} // namespace qm
