// Random numbers: the process-wide uniform generator and the normal and
// multivariate-normal draws built on it.
//
// The generator is xoshiro256** (Blackman and Vigna): 256 bits of state,
// period 2^256 - 1.  Its seed is a vector of `seed_size` 32-bit integers;
// consecutive pairs form the four state words, each passed through the
// splitmix64 finaliser so that similar seeds (the clock seed below differs
// by 37 between entries) give unrelated states, and an all-zero state cannot
// arise.
//
// Thread safety: UniformGenerator is thread-safe.  Every public member takes
// the generator's own lock for the whole call, so a batch of draws (the two
// uniforms of a Box-Muller pair) is never split between threads.  Draws of
// concurrent threads interleave in an unspecified order.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

namespace fq {

class SquareMatrix;

class UniformGenerator {
 public:
  static constexpr int seed_size = 8;

  UniformGenerator();  // seeded with the fixed seed 0, 37, 74, ...
  UniformGenerator(const UniformGenerator&) = delete;
  UniformGenerator& operator=(const UniformGenerator&) = delete;

  // Puts a seed vector into the generator.  Throws std::invalid_argument
  // unless it holds exactly seed_size values.
  void seed(std::span<const std::uint32_t> seed_vector);
  // The seed vector t, t + 37, t + 74, ... (32-bit wrap-around arithmetic).
  void seed_from(std::uint32_t t);

  double uniform();                      // in [0, 1), 53 random bits
  float uniform_float();                 // in [0, 1), 24 random bits
  std::pair<double, double> uniform_pair();  // two draws under one lock

 private:
  std::uint64_t next();  // caller holds mu_
  std::mutex mu_;
  std::array<std::uint64_t, 4> s_{};
};

// The calling thread's generator: the one generator of the process, unless
// a BindGenerator on this thread has bound another (one chain of several
// running at once, each with its own stream).
UniformGenerator& uniform_generator();

// Binds `g` as the calling thread's generator for the object's lifetime.
// Not thread-safe itself: create and destroy it on the thread it binds.
class BindGenerator {
 public:
  explicit BindGenerator(UniformGenerator& g);
  ~BindGenerator();
  BindGenerator(const BindGenerator&) = delete;
  BindGenerator& operator=(const BindGenerator&) = delete;

 private:
  UniformGenerator* previous_;
};

// The clock's seed: milliseconds of a steady clock (on Linux, since the
// system started) modulo 2^31.  Two calls within the same millisecond give
// the same seed.
std::uint32_t clock_seed();

// The seed of stream `k` of a run seeded with `run_seed` (chain k of
// several): the low 32 bits of the splitmix64 finaliser of run_seed * 2^32
// + k, so that neighbouring seeds and neighbouring k give unrelated seeds.
std::uint32_t derived_seed(std::uint32_t run_seed, std::uint32_t k);

// Seeds the calling thread's generator from the clock: seed(i) = t + 37*i
// with t = clock_seed().
void init_random_seed();

// Seeds the calling thread's generator explicitly: seed(i) = t + 37*i.
void seed_random(std::uint32_t t);

// n independent normal draws, value(i) = mu[i] + sigma[i] * z, by the
// Box-Muller transform, one pair of uniforms (u1, u2) per two values:
//   r = sqrt(-2 ln(1 - u1)), theta = 6.2831854820251465 * u2,
//   value(i) = r cos(theta) sigma(i) + mu(i), value(i+1) = r sin(theta) sigma(i+1) + mu(i+1).
// 1 - u1 lies in (0, 1], so r is always finite.  With odd n the sine value of
// the last pair is discarded.  mu and sigma need at least n entries (else
// std::invalid_argument).  Writes into `out` (n entries) without allocating,
// or returns a new vector.
void randnormal(int n, std::span<const double> mu, std::span<const double> sigma,
                std::span<double> out);
std::vector<double> randnormal(int n, std::span<const double> mu, std::span<const double> sigma);

// One draw from the multivariate normal with mean mu and covariance l l^T,
// l lower triangular n x n: z = randnormal(n, 0, 1), result = l z + mu.
std::vector<double> randnormal_multi(int n, std::span<const double> mu, const SquareMatrix& l);

}  // namespace fq
