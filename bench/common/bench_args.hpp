// Command-line check for Google Benchmark programs: the numeric flags must
// carry numbers in range before the library sees them (it aborts on a
// negative --benchmark_repetitions and takes a text as 0), and anything that
// is not a flag is refused.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

// True when every argument is acceptable; otherwise prints why and false.
inline bool CheckArguments(int argc, char** argv) {
  struct Flag {
    const char* name;
    bool whole;     // an integer
    bool positive;  // above 0 (else 0 allowed)
  } const numeric[] = {{"--benchmark_repetitions=", true, true},
                       {"--benchmark_min_time=", false, true},
                       {"--benchmark_min_warmup_time=", false, false}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      std::fprintf(stderr, "%s: '%s' is not an option (see --help)\n", argv[0], argv[i]);
      return false;
    }
    for (const Flag& f : numeric) {
      if (arg.rfind(f.name, 0) != 0) continue;
      const char* text = argv[i] + std::strlen(f.name);
      char* end = nullptr;
      errno = 0;
      const double v = f.whole ? static_cast<double>(std::strtol(text, &end, 10)) : std::strtod(text, &end);
      const bool ok =
          *text >= '0' && *text <= '9' && errno == 0 && end && *end == '\0' && v < 1e6 && (f.positive ? v > 0 : v >= 0);
      if (!ok) {
        std::fprintf(stderr, "%s: %.*s needs a %s number below 1000000, not '%s'\n", argv[0],
                     static_cast<int>(std::strlen(f.name) - 1), f.name, f.positive ? "positive" : "non-negative", text);
        return false;
      }
    }
  }
  return true;
}

}  // namespace bench
