// Several processes (MPI ranks) sharing one run, in the MPI build.
//
// With MPI (the CMake option FOLDQUEST_MPI, on when MPI is found) and a
// program started by mpirun, `foldquest run` calls init(): every rank reads
// the same options and data, grid search and the Monte Carlo methods split
// each block of models into contiguous shares, one per rank (OpenMP threads
// inside each rank), and rank 0 gathers the scores and writes the results
// file exactly as one process would.  Without MPI, or without mpirun, there
// is one rank and every function here is trivial.
//
// Thread safety: call these from the main thread only (MPI is initialised
// with MPI_THREAD_FUNNELED); the OpenMP regions sit between the calls.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace fq::ranks {

// True when this build has MPI.
bool built_with_mpi();
// True when the environment shows a launch by mpirun/srun with more than one
// process (the variables OpenMPI, PMI and PMIx set), whether or not this
// build has MPI.
bool launched_as_several();

// Starts MPI when this build has it and the program runs under mpirun;
// otherwise nothing.  finalize() ends it; both are safe to call when MPI is
// not used.
void init(int* argc, char*** argv);
void finalize();

// init() for the lifetime of the object, then finalize().
class Session {
 public:
  Session() { init(nullptr, nullptr); }
  ~Session() { finalize(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

// This process's rank and the number of ranks: 0 and 1 without MPI.
int rank();
int size();

// The share [first, last) of n items that rank r of `nranks` takes:
// contiguous, in rank order, sizes differing by at most one.
std::pair<std::int64_t, std::int64_t> share(std::int64_t n, int r, int nranks);

// Rank 0 receives every rank's share of `all` (shares as share(all.size(),
// r, size())) in place; the other ranks' copies are left as they were.
void gather(std::span<double> all);
// Every rank receives rank 0's `data`.
void broadcast(std::span<double> data);
void broadcast(std::span<std::int64_t> data);
// True on every rank when `ok` is true on every rank.
bool all_ok(bool ok);
// Rank 0 receives every rank's `text`, in rank order; the other ranks get
// an empty list.
std::vector<std::string> gather_text(const std::string& text);

}  // namespace fq::ranks
