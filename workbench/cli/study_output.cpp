#include "cli/study_output.h"

#include <cstdio>
#include <iostream>
#include <sstream>

#include "report/figure.h"
#include "report/json_stream.h"
#include "report/run_report.h"
#include "report/sweep_report.h"

namespace workbench::cli {

namespace {

// The first failures are named one a line; then a count.
constexpr std::size_t failures_listed = 20;

struct failure_line {
    std::size_t index;
    std::string where;
    std::string failure;
    std::string details;
};

}  // namespace

struct study_output::state {
    const study_plan& plan;
    const carried_columns carried;  // a case table's other columns, once for all points
    bool sweep;
    bool verbose;
    const checked_outputs& request;
    staged_outputs files;
    std::ostream* csv = nullptr;
    std::unique_ptr<spool> printed;  // the table or the JSON, for standard output
    std::unique_ptr<json_stream> json;
    std::optional<study_plot> plot;
    std::unique_ptr<spool> plot_script;
    std::vector<study_map> maps;
    std::vector<std::unique_ptr<spool>> map_scripts;
    std::vector<failure_line> failures;
    std::size_t failed = 0;
    bool table = false;  // printed; otherwise a summary on stderr
    study_ranges ranges;

    state(const checked_outputs& outputs, const study_plan& p, bool verbose_failures, bool sweep_format)
        : plan(p),
          carried(carried_columns_of(p)),
          sweep(sweep_format),
          verbose(verbose_failures),
          request(outputs),
          ranges(p) {}
};

study_output::study_output(const checked_outputs& outputs, const study_plan& plan, bool table, bool verbose,
                           bool sweep_format)
    : st_(std::make_unique<state>(outputs, plan, verbose, sweep_format)) {
    state& s = *st_;
    if (table && (outputs.json || !outputs.print())) {
        std::string other = "--json";
        for (const auto& [option, target] : {std::pair{"--csv", &outputs.csv}, std::pair{"--plot", &outputs.plot}}) {
            if (*target && (*target)->to_stdout) other = std::string(option) + " -";
        }
        throw input_error("--table and " + other + " both write to standard output: give one of them");
    }
    s.table = table || (outputs.print() && !outputs.json && !outputs.csv && !outputs.plot && outputs.maps.empty());
    for (const auto& [result, target] : s.request.maps) s.maps.emplace_back(plan, result);
    if (s.request.plot) {
        s.plot.emplace(plan);
        note(s.plot->notes());
    }

    // Everything opened, and the heads written, before the first point.
    if (s.request.csv) {
        s.csv = &s.files.open_text(*s.request.csv);
        if (s.sweep) {
            sweep_csv_head(*s.csv, plan.vars);
        } else {
            study_csv_head(*s.csv, plan);
        }
    }
    if (s.request.json || s.table) {
        s.printed = std::make_unique<spool>();
        std::ostream& out = s.printed->out();
        if (s.request.json) {
            s.json = std::make_unique<json_stream>(out);
            if (s.sweep) {
                s.json->member("vary", sweep_vary_json(plan.vars));
            } else {
                nlohmann::ordered_json head = study_head_json(plan, words());
                for (auto it = head.begin(); it != head.end(); ++it) s.json->member(it.key(), it.value());
            }
            s.json->begin_array("points");
        } else if (s.sweep) {
            print_sweep_head(out, plan.base, plan.vars);
        } else {
            print_study_head(out, plan, words());
        }
    }
}

study_output::~study_output() = default;

void study_output::add(const study_point& p) {
    state& s = *st_;
    if (!p.ok) {
        if (s.failures.size() < failures_listed) {
            s.failures.push_back({p.index, point_text(s.plan, p), p.failure, p.details});
        }
        ++s.failed;
    }
    s.ranges.add(p);
    if (s.sweep) {
        const sweep_point pt = sweep_point_of(p);
        if (s.csv) sweep_csv_row(*s.csv, s.plan.vars, pt);
        if (s.json) {
            s.json->item(sweep_point_json(s.plan.vars, pt));
        } else if (s.printed) {
            print_sweep_row(s.printed->out(), s.plan.vars, p.index, pt);
        }
    } else {
        if (s.csv) study_csv_row(*s.csv, s.plan, p);
        if (s.json) {
            s.json->item(study_point_json(s.plan, s.carried, p));
        } else if (s.printed) {
            print_study_row(s.printed->out(), s.plan, s.carried, p);
        }
    }
    if (s.plot) s.plot->add(p);
    for (study_map& m : s.maps) m.add(p);
}

int study_output::finish(session& ses, const study_summary& summary, const std::string& what) {
    state& s = *st_;
    for (const failure_line& f : s.failures) {
        std::cerr << "urea-reactor: solver failure at point " << f.index + 1 << " of " << summary.points << " ("
                  << f.where << "): " << f.failure << "\n";
        if (s.verbose && !f.details.empty()) std::cerr << f.details << "\n";
    }
    if (summary.failed > failures_listed) {
        std::cerr << "urea-reactor: solver failure at " << summary.failed - failures_listed
                  << " more points (each named in the table)\n";
    }
    if (summary.failed == summary.points) {
        std::cerr << "urea-reactor: solver failure: no point of the " << what << " was solved; nothing written\n";
        return exit_solver;
    }
    if (s.plot) {
        // The curves described once all their points are in.
        s.plot_script = std::make_unique<spool>();
        s.plot_script->out() << gnuplot_script(s.plot->description());
        s.files.add_plot(*s.request.plot, *s.plot_script);
    }
    for (std::size_t k = 0; k < s.maps.size(); ++k) {
        s.map_scripts.push_back(std::make_unique<spool>());
        s.map_scripts.back()->out() << gnuplot_script(s.maps[k].description());
        s.files.add_plot(s.request.maps[k].second, *s.map_scripts.back());
    }
    if (s.printed) {
        std::ostream& out = s.printed->out();
        if (s.json) {
            s.json->end_array();
            nlohmann::ordered_json tail =
                s.sweep ? sweep_tail_json(summary.points, summary.failed, summary.rate_calls, s.plan.notes, words())
                        : study_tail_json(s.plan, summary, words());
            for (auto it = tail.begin(); it != tail.end(); ++it) s.json->member(it.key(), it.value());
            s.json->member("base_case", case_json(s.plan.base));
            s.json->member("build", build_json(ses.plugin_path()));
            s.json->end();
        } else if (s.sweep) {
            print_sweep_tail(out, summary.points, summary.failed, summary.rate_calls);
        } else {
            print_study_tail(out, s.plan, summary);
        }
    }
    s.files.commit();
    if (s.printed && !s.printed->copy_to(stdout)) {
        throw input_error("cannot write the " + what + " to standard output");
    }
    // The points went to files only: what they came to, in a few lines.
    if (!s.table && !s.request.json && !quiet()) {
        std::ostringstream text;
        print_study_summary(text, what == "sweep" ? "Sweep" : "Study", s.plan, summary, s.ranges);
        if (s.request.print()) text << "(--table prints the table too)\n";
        std::cerr << text.str();
    }
    return cli::finish(s.files, summary.failed == 0 ? exit_ok : exit_solver);
}

}  // namespace workbench::cli
