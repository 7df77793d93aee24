// foldquest plot: a picture of a run, drawn by python/foldquest_plot.py
// (matplotlib) from the CSV files the other tools write: the restored
// section of one model (the best of the results files, or a given one),
// with chain traces and histograms for Markov chains, or misfit profiles
// for grid search and Monte Carlo.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "foldquest/driver/tool_model.hpp"

namespace fq::tool {

struct PlotRequest {
  std::string options;
  std::vector<std::string> results;  // empty: the options' results file
  std::string out;                   // FILE.png or FILE.svg
  ModelChoice model;                 // nothing given: the best model of the results
  std::int64_t burn = 0;             // chains, as for summary
  double burn_frac = -1;
  // Chains: the parameters of the pair plot, by name ("none": no pair
  // plot); empty: the first six that move.
  std::vector<std::string> pairs;
};

// The script runs under $FOLDQUEST_PYTHON when set, else python3 of the
// PATH, else /usr/bin/python3 (where Debian's matplotlib is) when the first
// has no matplotlib.
// Exit status: 0 with the picture written; 1 when it could not be drawn
// (python3 or matplotlib missing, the script failed); 2 for bad input.
int plot(const PlotRequest& req, std::ostream& out, std::ostream& err);

// The plotting script: $FOLDQUEST_PLOT_SCRIPT when set, else the installed
// copy (PREFIX/share/foldquest/foldquest_plot.py beside PREFIX/bin), else
// the one in the source tree the program was built from.
std::string plot_script_path();

}  // namespace fq::tool
