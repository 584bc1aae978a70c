// urea-reactor run as a user runs it, from a test: in a fresh folder of
// its own, with its exit status (or the signal that ended it), stdout and
// stderr.
#ifndef UREA_WORKBENCH_CLI_CLI_FIXTURE_H
#define UREA_WORKBENCH_CLI_CLI_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace cli_testing {

namespace fs = std::filesystem;

struct outcome {
    int status;  // exit status, or -1 when ended by a signal
    std::string out;
    std::string err;
    int signal = 0;  // the signal that ended it
};

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Whether a process works in the folder (its current folder): a child the
// workbench started there (gnuplot, a checked build, a worker) that
// outlived it.
inline bool any_process_in(const std::filesystem::path& folder) {
    std::error_code ec;
    for (const auto& p : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = p.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(getpid())) continue;
        const std::filesystem::path cwd = std::filesystem::read_symlink(p.path() / "cwd", ec);
        if (!ec && cwd == folder) return true;
    }
    return false;
}

class cli_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("urea-cli-" + std::to_string(getpid()) + "-" +
                                           test->test_suite_name() + "-" + test->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs urea-reactor with the arguments (shell words) in the test's folder.
    // env: variable settings for the program, e.g. "PATH=/nowhere".
    outcome run(const std::string& args, const std::string& env = "") {
        const fs::path out = dir.parent_path() / (dir.filename().string() + ".stdout");
        const fs::path err = dir.parent_path() / (dir.filename().string() + ".stderr");
        // The shell execs the program, so that its end by a signal shows.
        const std::string cmd = "cd '" + dir.string() + "' && exec " + (env.empty() ? "" : "env " + env + " ") + "'" UREA_REACTOR "' " +
                                args + " > '" + out.string() + "' 2> '" + err.string() + "' < /dev/null";
        const int raw = std::system(cmd.c_str());
        int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        int signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
        // A shell reports its child's signal as 128 + N.
        if (status > 128 && status < 160) {
            signal = status - 128;
            status = -1;
        }
        outcome o{status, slurp(out), slurp(err), signal};
        fs::remove(out);
        fs::remove(err);
        return o;
    }
    fs::path write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
        return dir / name;
    }
    // Files left in the folder (temporaries included).
    std::size_t files() {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
        return n;
    }
    fs::path dir;
};

}  // namespace cli_testing

#endif
