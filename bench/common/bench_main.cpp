// main() for the Google Benchmark programs: arguments are checked before the
// library parses them (see bench_args.hpp).
#include <benchmark/benchmark.h>

#include "bench_args.hpp"

int main(int argc, char** argv) {
  if (!bench::CheckArguments(argc, argv)) return 2;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
