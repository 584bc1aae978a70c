// What `study` and `sweep` write, a point at a time as the study hands them
// on: the CSV into its staged temporary file, the table or JSON and the
// plots' data into spools, failed points named on stderr (the first 20);
// then, once the study is done, all of it put in place whole, or nothing
// when no point was solved. Standard output gets the JSON (--json), or
// the table when nothing is written to a file or when asked for
// (--table); points written to files only get a summary on stderr
// instead (none with --quiet).
#ifndef UREA_WORKBENCH_CLI_STUDY_OUTPUT_H
#define UREA_WORKBENCH_CLI_STUDY_OUTPUT_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/common.h"
#include "report/study_report.h"

namespace workbench::cli {

class study_output {
public:
    // The outputs (checked with the request) opened, the heads written.
    // table: the table asked for beside the files; verbose: each
    // failure's details too; sweep_format: `sweep`'s table, CSV and JSON,
    // as they have always been. Throws input_error for the table asked for
    // where something else goes to standard output.
    study_output(const checked_outputs& outputs, const study_plan& plan, bool table, bool verbose,
                 bool sweep_format = false);
    ~study_output();
    study_output(const study_output&) = delete;
    study_output& operator=(const study_output&) = delete;

    void add(const study_point& p);
    // Says which points failed, writes everything and returns the exit
    // status. what: "study" or "sweep", for the messages.
    int finish(session& s, const study_summary& summary, const std::string& what);

private:
    struct state;
    std::unique_ptr<state> st_;
};

}  // namespace workbench::cli

#endif
