#include "base/input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "base/errors.h"

namespace workbench {
namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
    throw input_error(path + ": " + reason, reason, input_place{"", path, 0, 0});
}

}  // namespace

const char* file_kind(unsigned mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISFIFO(mode)) return "a pipe (FIFO)";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

namespace {

// The file opened for reading, when it is a regular file; its size.
int open_regular(const std::string& path, const std::string& what, struct stat& st) {
    // Not blocking: opening a FIFO would wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) refuse(path, "cannot open the " + what + " (" + std::strerror(errno) + ")");
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::string kind = fstat(fd, &st) == 0 ? file_kind(st.st_mode) : "unreadable";
        close(fd);
        refuse(path, "is " + kind + ", not a " + what);
    }
    return fd;
}

}  // namespace

input_stream::input_stream(const std::string& path, const std::string& what) : path_(path), what_(what) {
    struct stat st {};
    fd_ = open_regular(path, what, st);
}

input_stream::~input_stream() { close(fd_); }

std::size_t input_stream::read(char* to, std::size_t capacity) {
    for (;;) {
        const ssize_t n = ::read(fd_, to, capacity);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refuse(path_, "cannot read the " + what_ + " (" + std::strerror(errno) + ")");
        return static_cast<std::size_t>(n);
    }
}

std::string read_input_file(const std::string& path, const std::string& what) {
    struct stat st {};
    const int fd = open_regular(path, what, st);
    // The size in bytes: in MiB, 64 MiB and a byte would read as 64 MiB.
    const std::string most = "a " + what + " may be at most " + std::to_string(max_input_bytes) + " bytes (" +
                             std::to_string(max_input_bytes >> 20) + " MiB)";
    if (static_cast<std::size_t>(st.st_size) > max_input_bytes) {
        close(fd);
        refuse(path, "is " + std::to_string(st.st_size) + " bytes; " + most);
    }
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    // A file that grows while it is read is read up to the limit, then refused.
    for (;;) {
        if (got == text.size()) {
            if (text.size() > max_input_bytes) break;
            text.resize(std::min(max_input_bytes + 1, text.size() * 2 + 4096));
        }
        const ssize_t n = read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            close(fd);
            refuse(path, "cannot read the " + what + " (" + std::strerror(e) + ")");
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (got > max_input_bytes) {
        refuse(path, "is more than " + std::to_string(max_input_bytes) + " bytes; " + most);
    }
    text.resize(got);
    return text;
}

}  // namespace workbench
