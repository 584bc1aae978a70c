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

// An input file read in pieces, whatever its size (a plant history, which
// may be far larger than max_input_bytes): the same checks as
// read_input_file but the size. Throws input_error.
class input_stream {
public:
    input_stream(const std::string& path, const std::string& what);
    ~input_stream();
    input_stream(const input_stream&) = delete;
    input_stream& operator=(const input_stream&) = delete;

    // The next bytes into `to`, at most `capacity`; 0 at the end.
    std::size_t read(char* to, std::size_t capacity);

private:
    int fd_ = -1;
    std::string path_, what_;
};

}  // namespace workbench

#endif
