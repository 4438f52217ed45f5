// A per-thread text answer (the TAGS_Read and input-name results).
//
// Deliberately trivially destructible: a thread_local with a destructor would
// keep the plug-in mapped after dlclose. The buffer lives as long as its
// thread; keep() throws std::bad_alloc when it cannot grow.
#pragma once

#include <cstddef>
#include <string>

namespace tovarin::audio {

struct ThreadText {
  char* data = nullptr;
  size_t capacity = 0;
  const char* keep(const std::string& text);
};

}  // namespace tovarin::audio
