#include "io/output_files.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "base/input_files.h"
#include "base/errors.h"

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

// ---- Temporary files, known to a signal handler -----------------------------

constexpr std::size_t max_temporaries = 16;
std::array<std::array<char, PATH_MAX>, max_temporaries> temporaries{};
std::array<volatile std::sig_atomic_t, max_temporaries> in_use{};
volatile std::sig_atomic_t gnuplot_pid = 0;

// Signals held off while a temporary file is made and registered, so that
// no signal finds it made but unknown.
class signals_held {
public:
    signals_held() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &before_);
    }
    ~signals_held() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

private:
    sigset_t before_;
};

void forget(const std::string& path) {
    const signals_held held;
    for (std::size_t k = 0; k < max_temporaries; ++k) {
        if (in_use[k] && path == temporaries[k].data()) in_use[k] = 0;
    }
}

// A fresh, empty temporary file in folder, named by us alone
// (".urea-reactor-XXXXXX" and the suffix), registered; returns its path.
std::string make_temporary(const std::string& folder, const std::string& suffix, const std::string& path,
                           mode_t mode) {
    std::string name = folder + "/.urea-reactor-XXXXXX" + suffix;
    if (name.size() >= PATH_MAX) throw input_error(path + ": cannot write there (the path is too long)");
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    const signals_held held;
    std::size_t slot = max_temporaries;
    for (std::size_t k = 0; k < max_temporaries && slot == max_temporaries; ++k) {
        if (!in_use[k]) slot = k;
    }
    if (slot == max_temporaries) throw std::logic_error("more than " + std::to_string(max_temporaries) + " output files at once");
    const int fd = mkstemps(buf.data(), static_cast<int>(suffix.size()));
    if (fd < 0) throw input_error(path + ": cannot write there (" + why() + ")");
    std::memcpy(temporaries[slot].data(), buf.data(), buf.size());
    in_use[slot] = 1;
    // mkstemps makes the file private; give it what the file it replaces
    // had, or what a plain new file gets.
    fchmod(fd, mode);
    close(fd);
    return std::string(buf.data());
}

// The mode the new file gets: the old file's, or a new file's.
mode_t mode_for(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool sync_file(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

// The file a path names once symlinks are followed; the path itself when
// it is no symlink. A dangling link's target is where the link points.
std::string followed(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::array<char, PATH_MAX> buf{};
        const ssize_t n = readlink(p.c_str(), buf.data(), buf.size() - 1);
        if (n <= 0) return p;
        const std::string link(buf.data(), static_cast<std::size_t>(n));
        p = link.front() == '/' ? link : folder_of(p) + "/" + link;
    }
    throw input_error(path + ": too many symbolic links");
}

// What identifies a file whatever its spelling: device and inode when it
// exists, and the canonical path of its folder with its name.
struct identity {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string canonical;
};

identity identity_of(const std::string& path) {
    identity id;
    const std::string p = followed(path);
    struct stat st {};
    if (stat(p.c_str(), &st) == 0) {
        id.exists = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
    }
    std::array<char, PATH_MAX> buf{};
    if (realpath(folder_of(p).c_str(), buf.data()) != nullptr) id.canonical = std::string(buf.data()) + "/" + base_of(p);
    return id;
}

bool same(const identity& a, const identity& b) {
    if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino;
    return !a.canonical.empty() && a.canonical == b.canonical;
}

// Writes all of text to fd, which may be non-blocking: waits for room
// at most until the deadline. False on an error or past the deadline.
bool write_all(int fd, const std::string& text, std::chrono::steady_clock::time_point deadline) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (wait.count() <= 0) return false;
            pollfd pf{fd, POLLOUT, 0};
            poll(&pf, 1, static_cast<int>(std::min<long long>(wait.count(), 1000)));
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

output_target check_output_path(const std::string& option, const std::string& path, output_kind kind) {
    output_target t{option, path, path == "-", path};
    if (t.to_stdout) return t;
    const field_ref what = given(option, path);
    if (path.empty()) throw input_error(field(option), "needs a file name (or - for standard output)");
    if (kind == output_kind::plot && !ends_with(path, ".svg") && !ends_with(path, ".png")) {
        throw input_error(what, "the plot is drawn as .svg or .png; name the file so");
    }
    if (path.back() == '/') throw input_error(what, "is a folder, not a file");
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        // It exists: written only if a regular file, then through any
        // symlinks to the file itself.
        if (!S_ISREG(st.st_mode)) {
            throw input_error(what, std::string("is ") + file_kind(st.st_mode) +
                                        "; only a regular file is written (- writes to standard output)");
        }
        std::array<char, PATH_MAX> buf{};
        if (realpath(path.c_str(), buf.data()) == nullptr) {
            throw input_error(what, "cannot write there (" + why() + ")");
        }
        t.path = buf.data();
    } else {
        t.path = followed(path);  // a new file, or where a dangling symlink points
    }
    const std::string folder = folder_of(t.path);
    if (stat(folder.c_str(), &st) != 0) {
        throw input_error(what, "cannot write there (the folder " + folder + ": " + why() + ")");
    }
    if (!S_ISDIR(st.st_mode)) throw input_error(what, "cannot write there (" + folder + " is not a folder)");
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw input_error(what, "cannot write there (the folder " + folder + ": " + why() + ")");
    }
    return t;
}

void check_distinct(const std::vector<output_target>& outputs,
                    const std::vector<std::pair<std::string, std::string>>& inputs) {
    const output_target* on_stdout = nullptr;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const output_target& o = outputs[i];
        if (o.to_stdout) {
            if (on_stdout != nullptr) {
                throw input_error(mention(on_stdout->option, "", "-") + " and " + mention(o.option, "", "-") +
                                  " both write to standard output: give one of them a file");
            }
            on_stdout = &o;
            continue;
        }
        const identity id = identity_of(o.path);
        for (const auto& [what, path] : inputs) {
            if (!path.empty() && same(id, identity_of(path))) {
                throw input_error(given(o.option, o.given),
                                  "is " + what + " (" + path + "), which the output would replace; name another file");
            }
        }
        // The file standard input reads (`< case.json`, or /proc/self/fd/0
        // named as the output) is an input too, whatever reads it.
        struct stat in {};
        if (id.exists && fstat(STDIN_FILENO, &in) == 0 && S_ISREG(in.st_mode) && in.st_dev == id.dev &&
            in.st_ino == id.ino) {
            throw input_error(o.option + " " + o.given +
                              ": is the file standard input reads, which the output would replace; name another file");
        }
        for (std::size_t k = 0; k < i; ++k) {
            if (!outputs[k].to_stdout && same(id, identity_of(outputs[k].path))) {
                throw input_error(mention(outputs[k].option, "", outputs[k].given) + " and " +
                                  mention(o.option, "", o.given) + " name the same file");
            }
        }
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
    for (const staged& s : staged_) {
        if (s.temporary.empty()) continue;
        std::remove(s.temporary.c_str());
        forget(s.temporary);
    }
}

void staged_outputs::add_text(const output_target& target, const std::string& content) {
    if (target.to_stdout) {
        staged_.push_back({"", target, content});
        return;
    }
    const std::string temporary = make_temporary(folder_of(target.path), "", target.given, mode_for(target.path));
    staged_.push_back({temporary, target, ""});
    FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = f != nullptr && std::fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
    ok = f != nullptr && std::fclose(f) == 0 && ok;
    if (!ok) throw input_error(target.given + ": cannot write there (" + why() + ")");
}

void staged_outputs::add_plot(const output_target& target, const std::string& script) {
    draw(target, [&](int fd, std::chrono::steady_clock::time_point deadline) {
        return write_all(fd, script, deadline);
    });
}

void staged_outputs::add_plot(const output_target& target, spool& script) {
    draw(target, [&](int fd, std::chrono::steady_clock::time_point deadline) {
        return script.each_chunk([&](const char* data, std::size_t n) {
            return write_all(fd, std::string(data, n), deadline);
        });
    });
}

namespace {

// Runs gnuplot with the script that write_script writes to its pipe, to
// draw into `temporary` (a name of ours in `folder`) as svg or png at `size`
// ("900,720"), within the time limit; the reason when it could not. `given`:
// the plot as the user knows it, for messages.
template <class WriteScript>
std::string run_gnuplot(const std::string& folder, const std::string& temporary, bool svg, const std::string& size,
                        const std::string& given, WriteScript&& write_script) {
    // gnuplot runs in the target folder and is told only the temporary
    // file's name, which is ours: letters, digits, '.', '-'.
    const std::string name = base_of(temporary);
    for (char ch : name) {
        if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '-')) {
            throw std::logic_error("unexpected temporary file name " + name);
        }
    }
    const std::string head =
        std::string("set terminal ") +
        (svg ? "svg size " + size + " dynamic font 'Sans,13' background rgb 'white'"
             : "pngcairo size " + size + " font 'Sans,11' background rgb 'white'") +
        "\nset output '" + name + "'\n";

    int to_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0) return "cannot start gnuplot: " + why();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(to_child[0]);
        close(to_child[1]);
        return "cannot start gnuplot: " + why();
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
    gnuplot_pid = child;
    close(to_child[0]);
    fcntl(to_child[1], F_SETFL, O_NONBLOCK);
    // A gnuplot that quits early must not kill us with SIGPIPE.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(gnuplot_time_limit_s));
    if (write_all(to_child[1], head, deadline) && write_script(to_child[1], deadline)) {
        write_all(to_child[1], "\nset output\n", deadline);
    }
    close(to_child[1]);
    sigaction(SIGPIPE, &before, nullptr);
    // Waits for it, within the time limit.
    int status = 0;
    bool ended = false;
    for (;;) {
        const pid_t w = waitpid(child, &status, WNOHANG);
        if (w == child) {
            ended = true;
            break;
        }
        if (w < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        kill(child, SIGKILL);
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        gnuplot_pid = 0;
        return "gnuplot did not draw " + given + " within " + std::to_string(static_cast<int>(gnuplot_time_limit_s)) +
               " s; it was stopped";
    }
    gnuplot_pid = 0;
    struct stat st {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || stat(temporary.c_str(), &st) != 0 || st.st_size == 0) {
        return "gnuplot failed to draw " + given +
               (WIFEXITED(status) && WEXITSTATUS(status) == 127
                    ? " (is gnuplot installed? scripts/install-deps installs it)"
                    : "");
    }
    return "";
}

}  // namespace

template <class WriteScript>
void staged_outputs::draw(const output_target& target, WriteScript&& write_script) {
    // Standard output gets an SVG, drawn in the current folder first.
    const bool svg = target.to_stdout || ends_with(target.given, ".svg");
    const std::string folder = target.to_stdout ? "." : folder_of(target.path);
    const std::string temporary =
        make_temporary(folder, svg ? ".svg" : ".png", target.given, target.to_stdout ? 0600 : mode_for(target.path));
    staged_.push_back({temporary, target, ""});
    const auto fail = [&](const std::string& what) {
        std::remove(temporary.c_str());
        forget(temporary);
        staged_.pop_back();
        failures_.push_back(what);
    };
    const std::string failure = run_gnuplot(folder, temporary, svg, "900,720", target.given, write_script);
    if (!failure.empty()) return fail(failure);
    if (!target.to_stdout && !sync_file(temporary, O_RDONLY)) {
        return fail("cannot sync the plot drawn for " + target.given + ": " + why());
    }
}

std::optional<std::string> staged_outputs::svg_of(const output_target& beside, const std::string& script,
                                                  const std::string& what, const std::string& size) {
    const std::string folder = beside.to_stdout ? "." : folder_of(beside.path);
    const std::string temporary = make_temporary(folder, ".svg", beside.given, 0600);
    const std::string failure = run_gnuplot(folder, temporary, true, size, what,
                                            [&](int fd, std::chrono::steady_clock::time_point deadline) {
                                                return write_all(fd, script, deadline);
                                            });
    std::optional<std::string> out;
    if (failure.empty()) {
        std::ifstream in(temporary, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        out = text.str();
    } else {
        failures_.push_back(failure);
    }
    std::remove(temporary.c_str());
    forget(temporary);
    return out;
}

std::ostream& staged_outputs::open_text(const output_target& target) {
    if (target.to_stdout) {
        staged_.push_back({"", target, "", nullptr, std::make_unique<spool>()});
        return staged_.back().spooled->out();
    }
    const std::string temporary = make_temporary(folder_of(target.path), "", target.given, mode_for(target.path));
    staged_.push_back({temporary, target, "", nullptr, nullptr});
    auto file = std::make_unique<std::ofstream>(temporary, std::ios::binary | std::ios::trunc);
    if (!*file) throw input_error(target.given + ": cannot write there (" + why() + ")");
    staged_.back().file = std::move(file);
    return *staged_.back().file;
}

void staged_outputs::commit() {
    // Texts written row by row: whole, on disk, before anything is renamed.
    for (staged& s : staged_) {
        if (s.file) {
            s.file->close();
            const bool ok = !s.file->fail() && sync_file(s.temporary, O_RDONLY);
            s.file.reset();
            if (!ok) throw input_error(s.target.given + ": cannot write there (" + why() + ")");
        }
        if (s.spooled && !s.spooled->each_chunk([](const char*, std::size_t) { return true; })) {
            throw input_error("cannot keep " + mention(s.target.option, "", "-") + " in a temporary file (" + why() + ")");
        }
    }
    for (staged& s : staged_) {
        if (s.target.to_stdout) {
            if (!s.temporary.empty()) {
                // A plot for standard output: its bytes, then the file goes.
                FILE* f = std::fopen(s.temporary.c_str(), "rb");
                std::array<char, 1 << 16> buf{};
                std::size_t n = 0;
                while (f != nullptr && (n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
                    std::fwrite(buf.data(), 1, n, stdout);
                }
                if (f != nullptr) std::fclose(f);
                std::remove(s.temporary.c_str());
                forget(s.temporary);
                s.temporary.clear();
            } else if (s.spooled) {
                s.spooled->copy_to(stdout);
                s.spooled.reset();
            } else {
                std::fwrite(s.content.data(), 1, s.content.size(), stdout);
            }
            continue;
        }
        if (std::rename(s.temporary.c_str(), s.target.path.c_str()) != 0) {
            throw input_error(s.target.given + ": cannot write there (" + why() + ")");
        }
        forget(s.temporary);
        s.temporary.clear();
        sync_file(folder_of(s.target.path), O_RDONLY | O_DIRECTORY);
    }
    staged_.clear();
}

spool::spool() : f_(std::tmpfile()), buf_(f_), out_(&buf_) {
    if (f_ == nullptr) throw input_error(std::string("cannot make a temporary file (") + why() + ")");
}

spool::~spool() {
    if (f_ != nullptr) std::fclose(f_);
}

spool::buffer::int_type spool::buffer::overflow(int_type ch) {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

int spool::buffer::sync() {
    const auto n = static_cast<std::size_t>(pptr() - pbase());
    if (n > 0 && std::fwrite(pbase(), 1, n, f_) != n) failed_ = true;
    setp(data_, data_ + sizeof data_);
    return failed_ ? -1 : 0;
}

bool spool::copy_to(std::FILE* f) {
    return each_chunk([&](const char* data, std::size_t n) { return std::fwrite(data, 1, n, f) == n; });
}

void remove_temporaries() {
    for (std::size_t k = 0; k < max_temporaries; ++k) {
        if (in_use[k]) {
            unlink(temporaries[k].data());
            in_use[k] = 0;
        }
    }
}

int gnuplot_child() { return gnuplot_pid; }

}  // namespace workbench
