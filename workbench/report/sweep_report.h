// A sweep's results as a table, JSON, CSV and gnuplot commands.
#ifndef UREA_WORKBENCH_REPORT_SWEEP_REPORT_H
#define UREA_WORKBENCH_REPORT_SWEEP_REPORT_H

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/sweep.h"

namespace workbench {

void print_sweep(std::ostream& out, const reactor_case& base, const sweep_result& r);
nlohmann::ordered_json sweep_json(const sweep_result& r);
std::string sweep_csv(const sweep_result& r);

// One variable: conversion and equilibrium, and the mass fractions, against
// it. Two: a family of curves against the first, one per value of the
// second, coloured by it. Numbers and our own labels only.
std::string sweep_plot_script(const sweep_result& r);

}  // namespace workbench

#endif
