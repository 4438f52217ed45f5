// What the benchmarks measure of their own process: resident and allocated
// memory, threads, descriptors, CPU time, and the median of repeated runs.
#pragma once

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace bench {

// Resident set, in KiB.
inline long resident_kib() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes the allocator has handed out and not had back (all arenas, with
// mmap'ed blocks when asked), in KiB: growth here is memory held, growth
// of the resident size alone may be fragmentation.
inline long heap_kib(bool with_mapped = false) {
  const struct mallinfo2 m = ::mallinfo2();
  return static_cast<long>((m.uordblks + (with_mapped ? m.hblkhd : 0)) / 1024);
}

// Entries of a /proc folder: "/proc/self/task" (threads), "/proc/self/fd".
inline int count_entries(const char* dir) {
  int n = 0;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(dir, ec)) (void)e, ++n;
  return n;
}

// CPU seconds used so far by this process (RUSAGE_SELF, all its threads) or
// by its ended children (RUSAGE_CHILDREN).
inline double cpu_seconds(int who = RUSAGE_SELF) {
  rusage ru{};
  getrusage(who, &ru);
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec * 1e-6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec * 1e-6;
}

inline double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace bench
