// gen_straight_ramp: writes the synthetic data set of examples/straight_ramp.
//
//   gen_straight_ramp OUTDIR
//
// writes OUTDIR/beds.txt, OUTDIR/dips.txt and OUTDIR/faultpts.txt and prints
// the true model and the self-checks.  How the data are made, and the true
// model, are in straight_ramp_data.hpp; the files are the same on every run.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "examples/tools/straight_ramp_data.hpp"

int main(int argc, char** argv) {
  namespace ex = fqexample::straight_ramp;
  if (argc != 2) {
    std::cerr << "usage: gen_straight_ramp OUTDIR\n";
    return 1;
  }
  const std::string dir = argv[1];
  ex::DataSet data;
  try {
    data = ex::make_data();
  } catch (const std::exception& e) {
    std::cerr << "gen_straight_ramp: " << e.what() << "\n";
    return 1;
  }
  for (const auto& [name, text] : {std::pair<const char*, const std::string&>{"beds.txt", data.beds},
                                   {"dips.txt", data.dips},
                                   {"faultpts.txt", data.faultpts}}) {
    std::ofstream out(dir + "/" + name);
    out << text;
    if (!out) {
      std::cerr << "gen_straight_ramp: could not write " << dir << "/" << name << "\n";
      return 1;
    }
  }
  const auto ti = ex::initial_tip();
  std::printf("true model (tip = final tip):\n");
  std::printf("  tipx %g  tipy %g  slip %g  ramp %g  phi %g  P/S %g  s %g  growth slip %g\n", ex::kTipX, ex::kTipY,
              ex::kSlip, ex::kRampDeg, ex::kPhiDeg, ex::kPoverS, ex::kShape, ex::kGrowthSlip);
  std::printf("  initial tip (%.3f, %.3f)\n", ti.x, ti.y);
  std::printf("self-checks on the noise-free data:\n");
  std::printf("  restore at the forward increment (%g m): worst height error %.4f m\n", ex::kForwardIncrement,
              data.worst_roundtrip);
  std::printf("  restore at the run increment (%g m):      worst height error %.4f m\n", ex::kRunIncrement,
              data.worst_run_increment);
  std::printf("  dip kernel against bed slope:            worst difference %.4f degrees\n",
              data.worst_dip_vs_slope);
  return 0;
}
