// Model runs of every shipped example scored with each way of stepping the
// trishear zone (the one-point-at-a-time reference kernel, the batched
// portable kernel and the batched AVX2 kernel): the scores agree within
// rounding, and the batched kernels give the same score on every call.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "examples/tools/straight_ramp_data.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/models/trishear_straight.hpp"
#include "tests/models/trishear_bend_example_data.hpp"
#include "tests/models/trishear_decol_example_data.hpp"
#include "tests/support/example_states.hpp"
#include "tests/support/expect_close.hpp"

namespace {

using fq::ZoneVectorPath;

// The stated class of the batched kernels: powers, sines and cosines a few
// ulp from the C library's, summed over a few hundred points.
constexpr auto kPathScores = fqtest::Tol::rel(1e-12, "relative", "rounding of the vector functions");

struct PathScope {
  explicit PathScope(ZoneVectorPath p) : saved(fq::zone_vector_path()) { fq::set_zone_vector_path(p); }
  ~PathScope() { fq::set_zone_vector_path(saved); }
  ZoneVectorPath saved;
};

double score(const fq::RunState& state, const std::vector<double>& model) {
  double out = 0;
  fq::choose_fault_model(state, out, model);
  return out;
}

TEST(ZoneVectorPaths, EveryExampleScoresAlikeOnEveryPath) {
  struct Case {
    const char* example;
    std::vector<double> model;
  };
  const std::vector<Case> examples = {
      {"straight_ramp", fqexample::straight_ramp::true_model()},
      {"decol", fqtest::decol_example::true_model()},
      {"bend", fqtest::bend_example::true_model()},
  };
  for (const Case& c : examples) {
    for (const char* opt : {"gridsearch_beds_rms.opt", "gridsearch.opt", "mcmc.opt"}) {
      const fq::RunState& state = fqtest::ExampleStates::get(c.example).state(opt);
      // The true model (s = 1), and the same with shapes that take the
      // square root, the square and the general power; s is parameter 7 in
      // every trishear model.
      for (double s : {1.0, 2.0, 0.5, 1.7}) {
        SCOPED_TRACE(testing::Message() << c.example << " " << opt << " s " << s);
        std::vector<double> model = c.model;
        model[6] = s;
        double reference = 0;
        {
          const PathScope scope(ZoneVectorPath::reference);
          reference = score(state, model);
        }
        ASSERT_TRUE(std::isfinite(reference));
        for (ZoneVectorPath path : {ZoneVectorPath::portable, ZoneVectorPath::avx2}) {
          const PathScope scope(path);
          const double first = score(state, model);
          EXPECT_CLOSE(first, reference, kPathScores) << "path " << static_cast<int>(fq::zone_vector_path());
          EXPECT_EQ(score(state, model), first);
        }
      }
    }
  }
}

}  // namespace
