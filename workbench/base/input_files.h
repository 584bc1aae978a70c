// Input files read safely: only a regular file, at most a documented size,
// refused at once otherwise (a folder, a device such as /dev/zero, a FIFO).
#ifndef UREA_WORKBENCH_BASE_INPUT_FILES_H
#define UREA_WORKBENCH_BASE_INPUT_FILES_H

#include <cstddef>
#include <string>

namespace workbench {

// The largest input file the workbench reads: far more than any case file
// or runs file (a runs file of a million runs is about 100 MB... of which
// nobody has one; 64 MiB holds half a million).
inline constexpr std::size_t max_input_bytes = std::size_t{64} << 20;

// What a file that is no regular file is, for messages: "a folder", "a
// device", "a pipe (FIFO)", "a socket" (mode: stat's st_mode).
const char* file_kind(unsigned mode);

// The whole file. what: "case file", "runs file", for messages. Throws
// input_error (file set in its place) when it is not a regular file, is
// larger than max_input_bytes, or cannot be read.
std::string read_input_file(const std::string& path, const std::string& what);

}  // namespace workbench

#endif
