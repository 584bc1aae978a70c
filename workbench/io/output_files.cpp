#include "io/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "model/errors.h"

namespace workbench {
namespace {

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string base_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ends_with(const std::string& s, const std::string& end) {
    return s.size() > end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

std::string why() { return std::strerror(errno); }

// A fresh, empty temporary file in folder, named by us alone
// (".urea-reactor-XXXXXX" and the suffix); returns its path.
std::string make_temporary(const std::string& folder, const std::string& suffix,
                           const std::string& path) {
    std::string name = folder + "/.urea-reactor-XXXXXX" + suffix;
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    const int fd = mkstemps(buf.data(), static_cast<int>(suffix.size()));
    if (fd < 0) throw input_error(path + ": cannot write there (" + why() + ")");
    // mkstemps makes the file private; give it what a plain new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return std::string(buf.data());
}

bool sync_file(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

}  // namespace

void check_output_path(const std::string& option, const std::string& path, output_kind kind) {
    const std::string what = option + " " + path + ": ";
    if (path.empty()) throw input_error(option + ": needs a file name");
    if (kind == output_kind::plot && !ends_with(path, ".svg") && !ends_with(path, ".png")) {
        throw input_error(what + "the plot is drawn as .svg or .png; name the file so");
    }
    struct stat st {};
    if (path.back() == '/' || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        throw input_error(what + "is a folder, not a file");
    }
    // The new file replaces the old by a rename: a device or a pipe there
    // (/dev/null) would be replaced, not written to.
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        throw input_error(what + "is there and is not a plain file");
    }
    const std::string folder = folder_of(path);
    if (stat(folder.c_str(), &st) != 0) {
        throw input_error(what + "cannot write there (the folder " + folder + ": " + why() + ")");
    }
    if (!S_ISDIR(st.st_mode)) {
        throw input_error(what + "cannot write there (" + folder + " is not a folder)");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw input_error(what + "cannot write there (the folder " + folder + ": " + why() + ")");
    }
}

bool gnuplot_available() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (access((dir + "/gnuplot").c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

staged_outputs::~staged_outputs() {
    for (const staged& s : staged_) std::remove(s.temporary.c_str());
}

void staged_outputs::add_text(const std::string& path, const std::string& content) {
    const std::string temporary = make_temporary(folder_of(path), "", path);
    staged_.push_back({temporary, path});
    FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = f != nullptr && std::fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
    ok = f != nullptr && std::fclose(f) == 0 && ok;
    if (!ok) throw input_error(path + ": cannot write there (" + why() + ")");
}

void staged_outputs::add_plot(const std::string& path, const std::string& script) {
    const bool svg = ends_with(path, ".svg");
    const std::string folder = folder_of(path);
    const std::string temporary = make_temporary(folder, svg ? ".svg" : ".png", path);
    staged_.push_back({temporary, path});
    // gnuplot runs in the target folder and is told only the temporary
    // file's name, which is ours: letters, digits, '.', '-'.
    const std::string name = base_of(temporary);
    for (char ch : name) {
        if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '-')) {
            throw std::logic_error("unexpected temporary file name " + name);
        }
    }
    const std::string full =
        std::string("set terminal ") +
        (svg ? "svg size 900,720 dynamic font 'Sans,13' background rgb 'white'"
             : "pngcairo size 900,720 font 'Sans,11' background rgb 'white'") +
        "\nset output '" + name + "'\n" + script + "\nset output\n";

    int to_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0) throw plot_error("cannot start gnuplot: " + why());
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(to_child[0]);
        close(to_child[1]);
        throw plot_error("cannot start gnuplot: " + why());
    }
    if (child == 0) {
        // gnuplot's messages are of no use to the user; only its status is.
        const int null = open("/dev/null", O_WRONLY);
        if (dup2(to_child[0], STDIN_FILENO) < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0 ||
            dup2(null, STDERR_FILENO) < 0 || chdir(folder.c_str()) != 0) {
            _exit(127);
        }
        execlp("gnuplot", "gnuplot", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_child[0]);
    // A gnuplot that quits early must not kill us with SIGPIPE.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    const char* p = full.data();
    std::size_t left = full.size();
    while (left > 0) {
        const ssize_t n = write(to_child[1], p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    close(to_child[1]);
    sigaction(SIGPIPE, &before, nullptr);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    struct stat st {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || stat(temporary.c_str(), &st) != 0 ||
        st.st_size == 0) {
        throw plot_error("gnuplot failed to draw " + path +
                                 (WIFEXITED(status) && WEXITSTATUS(status) == 127
                                      ? " (is gnuplot installed? scripts/install-deps installs it)"
                                      : ""));
    }
    if (!sync_file(temporary, O_RDONLY)) {
        throw plot_error("cannot sync the plot drawn for " + path + ": " + why());
    }
}

void staged_outputs::commit() {
    for (std::size_t k = 0; k < staged_.size(); ++k) {
        const staged& s = staged_[k];
        if (std::rename(s.temporary.c_str(), s.path.c_str()) != 0) {
            throw input_error(s.path + ": cannot write there (" + why() + ")");
        }
        sync_file(folder_of(s.path), O_RDONLY | O_DIRECTORY);
    }
    staged_.clear();
}

}  // namespace workbench
