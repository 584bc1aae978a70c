// What `study` and `sweep` write, a point at a time as the study hands them
// on: the CSV into its staged temporary file, the table or JSON and the
// plots' data into spools, failed points named on stderr (the first 20);
// then, once the study is done, all of it put in place whole, or nothing
// when no point was solved.
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
    // verbose: each failure's details too; sweep_format: `sweep`'s table,
    // CSV and JSON, as they have always been.
    study_output(const checked_outputs& outputs, const study_plan& plan, bool verbose, bool sweep_format = false);
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
