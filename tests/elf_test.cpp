// What the built library shows the loader: its exports, imports, initialisers
// and hardening, read with readelf.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "urea_version.h"

namespace {

std::string readelf(const std::string& options) {
    const std::string command = "readelf -W " + options + " '" UREA_PLUGIN_PATH "' 2>&1";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    EXPECT_EQ(pclose(pipe), 0) << command << "\n" << out;
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> f;
    for (std::string w; in >> w;) {
        f.push_back(w);
    }
    return f;
}

// Dynamic symbols as (name without version, defined?) for global and weak ones.
struct dynamic_symbols {
    std::set<std::string> defined, undefined;
};

dynamic_symbols read_dynamic_symbols() {
    dynamic_symbols s;
    std::istringstream in(readelf("--dyn-syms"));
    for (std::string line; std::getline(in, line);) {
        const auto f = fields(line);
        // Num: Value Size Type Bind Vis Ndx Name
        if (f.size() < 8 || f[0].back() != ':' || (f[4] != "GLOBAL" && f[4] != "WEAK")) {
            continue;
        }
        const std::string name = f[7].substr(0, f[7].find('@'));
        (f[6] == "UND" ? s.undefined : s.defined).insert(name);
    }
    return s;
}

TEST(LibraryImage, ExportsExactlyTheThreeRoutines) {
    const auto s = read_dynamic_symbols();
    EXPECT_EQ(s.defined, (std::set<std::string>{"CMPLOC", "UPROPU", "USURA"}));
}

TEST(LibraryImage, ImportsTheHostItemsAndRoutines) {
    const auto s = read_dynamic_symbols();
    for (const char* name :
         {"HOST_COMPONENT_COUNT", "HOST_POOL", "HOST_OFFSETS_IDS", "HOST_OFFSETS_PROPS",
          "HOST_STREAM_WORK", "HOST_REACTOR_STATE", "HOST_SCATTER", "HOST_IDEAL_GAS_PROPS",
          "HOST_LIQUID_VOLUME", "HOST_LIQUID_FUGACITY"}) {
        EXPECT_TRUE(s.undefined.count(name)) << name << " is not imported";
    }
}

TEST(LibraryImage, HasNoInitialiserOfItsOwn) {
    const std::string sections = readelf("-S");
    EXPECT_EQ(sections.find(".ctors"), std::string::npos);
    EXPECT_EQ(sections.find(".dtors"), std::string::npos);

    // The toolchain's start-up file puts one entry into .init_array
    // (frame_dummy) and one into .fini_array; anything more is ours.
    const std::string dynamic = readelf("-d");
    std::istringstream in(dynamic);
    for (std::string line; std::getline(in, line);) {
        const auto f = fields(line);
        if (f.size() >= 3 && (f[1] == "(INIT_ARRAYSZ)" || f[1] == "(FINI_ARRAYSZ)")) {
            EXPECT_LE(std::stoul(f[2]), 8u) << line;
        }
    }
    const std::string relocations = readelf("-r");
    const std::string symbols = readelf("-s");
    // The one .init_array entry must be the toolchain's frame_dummy.
    std::string init_array_address;
    std::istringstream sec(sections);
    for (std::string line; std::getline(sec, line);) {
        const auto at = line.find(".init_array");
        if (at != std::string::npos) {
            init_array_address = fields(line.substr(at))[2];
        }
    }
    if (!init_array_address.empty()) {
        std::istringstream rel(relocations);
        std::string target;
        for (std::string line; std::getline(rel, line);) {
            const auto f = fields(line);
            if (f.size() >= 4 && f[0] == init_array_address && f[2] == "R_X86_64_RELATIVE") {
                target = f[3];
            }
        }
        ASSERT_FALSE(target.empty()) << "no relocation for the .init_array entry";
        std::istringstream sym(symbols);
        bool is_frame_dummy = false;
        for (std::string line; std::getline(sym, line);) {
            const auto f = fields(line);
            if (f.size() >= 8 && f[7] == "frame_dummy" &&
                f[1].find_first_not_of('0') != std::string::npos &&
                f[1].substr(f[1].find_first_not_of('0')) == target) {
                is_frame_dummy = true;
            }
        }
        EXPECT_TRUE(is_frame_dummy) << ".init_array runs " << target << ", not frame_dummy";
    }
}

// The version marker: the library's version and commit as constant data in
// a section that is loaded read-only and not executable, found by scanning
// the file; it adds no export and no initialiser (the tests above).
TEST(LibraryImage, CarriesItsVersionMarkerAsReadOnlyData) {
    std::ifstream in(UREA_PLUGIN_PATH, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker =
        std::string("@(#)urea-plugin ") + UREA_VERSION + " (commit " + UREA_GIT_COMMIT + ")";
    const std::size_t at = image.find(marker + '\0');
    ASSERT_NE(at, std::string::npos) << "no version marker " << marker;
    EXPECT_EQ(image.find("@(#)urea-plugin "), at) << "another marker comes first";

    std::istringstream sections(readelf("-S"));
    std::string holder;
    for (std::string line; std::getline(sections, line);) {
        const auto close = line.find(']');
        if (line.find("[Nr]") != std::string::npos || line.find('[') == std::string::npos ||
            close == std::string::npos) {
            continue;
        }
        const auto f = fields(line.substr(close + 1));
        // Name Type Address Off Size ES Flg ...
        if (f.size() < 7 || f[1] == "NOBITS") continue;
        const std::size_t off = std::stoul(f[3], nullptr, 16), size = std::stoul(f[4], nullptr, 16);
        if (at >= off && at + marker.size() < off + size) {
            holder = f[0];
            const std::string flags = f[6];
            EXPECT_NE(flags.find('A'), std::string::npos) << line;
            EXPECT_EQ(flags.find('W'), std::string::npos) << "writable: " << line;
            EXPECT_EQ(flags.find('X'), std::string::npos) << "executable: " << line;
        }
    }
    EXPECT_EQ(holder, ".rodata");
}

TEST(LibraryImage, IsHardened) {
    const std::string segments = readelf("-l");
    EXPECT_NE(segments.find("GNU_RELRO"), std::string::npos) << "no RELRO";
    std::istringstream in(segments);
    bool stack_seen = false;
    for (std::string line; std::getline(in, line);) {
        const auto f = fields(line);
        if (!f.empty() && f[0] == "GNU_STACK") {
            stack_seen = true;
            EXPECT_EQ(line.find('E', line.find("0x")), std::string::npos)
                << "executable stack: " << line;
        }
    }
    EXPECT_TRUE(stack_seen) << "no GNU_STACK header: the stack defaults to executable";

    const std::string dynamic = readelf("-d");
    EXPECT_NE(dynamic.find("BIND_NOW"), std::string::npos) << "no BIND_NOW: partial RELRO only";
    EXPECT_EQ(dynamic.find("TEXTREL"), std::string::npos) << "text relocations";
}

}  // namespace
