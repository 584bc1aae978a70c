// The command line's options, declared once: each with the commands it
// belongs to, its value's kind and its help. Options given before a
// subcommand count for it too, unless given again after it; one given
// twice, or one the subcommand does not have, is refused with a sentence
// naming it.
#ifndef UREA_WORKBENCH_CLI_OPTIONS_H
#define UREA_WORKBENCH_CLI_OPTIONS_H

#include <map>
#include <string>
#include <vector>

namespace workbench::cli {

// The commands: running a case (no subcommand) and the subcommands.
enum command : unsigned {
    run_cmd = 1u,
    fit_cmd = 2u,
    check_cmd = 4u,
    estimate_cmd = 8u,
    sweep_cmd = 16u,
    study_cmd = 32u,
    design_cmd = 64u,
    monitor_cmd = 128u,
    quantities_cmd = 256u,
    watch_cmd = 512u,
    serve_cmd = 1024u
};
inline constexpr unsigned case_commands =
    run_cmd | fit_cmd | estimate_cmd | sweep_cmd | study_cmd | design_cmd | monitor_cmd | watch_cmd;

struct option_spec {
    const char* name;       // "--a2", or a positional's name ("case")
    const char* value;      // what the help shows for its value ("NUMBER"); nullptr: a flag
    unsigned commands;      // the commands it belongs to
    const char* help;
    bool repeatable = false;  // may be given more than once (--fix, --vary)
    bool required = false;
    int arity = 1;            // values each time it is given (--map RESULT FILE: 2)
};

// Every option of every command. An option may appear more than once with
// other commands, to be explained in their own words.
const std::vector<option_spec>& option_specs();

// The subcommands' names and what each does, for the help.
struct command_spec {
    command which;
    const char* name;
    const char* help;
};
const std::vector<command_spec>& command_specs();

// What the user gave for the command that runs: each option's texts in
// order (a flag: one empty text per time it was given), positionals by name.
class invocation {
public:
    command which = run_cmd;
    // What the parse found given in vain (an option before the subcommand
    // given again after it), for the warnings.
    std::vector<std::string> warnings;

    bool has(const std::string& name) const { return given_.count(name) > 0; }
    // The one text of an option given once, or `otherwise`.
    std::string text(const std::string& name, const std::string& otherwise = "") const;
    // Every text of a repeatable option.
    std::vector<std::string> texts(const std::string& name) const;
    bool flag(const std::string& name) const { return has(name); }
    // The options given, by name, with their texts.
    const std::map<std::string, std::vector<std::string>>& given() const { return given_; }

    void add(const std::string& name, const std::string& text) { given_[name].push_back(text); }

private:
    std::map<std::string, std::vector<std::string>> given_;
};

// Parses argv. Throws input_error for a usage mistake, with one sentence
// (an option no command has, or not the command it is given to, is named
// first, with the option it was likely meant as);
// returns false after printing the help (--help, --help-all) or the usage,
// with `exit_status` set.
bool parse(int argc, char** argv, invocation& out, int& exit_status);

}  // namespace workbench::cli

#endif
