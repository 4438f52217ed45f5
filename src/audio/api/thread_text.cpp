#include "audio/api/thread_text.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tovarin::audio {

const char* ThreadText::keep(const std::string& text) {
  if (text.size() + 1 > capacity) {
    char* bigger = static_cast<char*>(std::realloc(data, text.size() + 1));
    if (!bigger) throw std::bad_alloc();
    data = bigger;
    capacity = text.size() + 1;
  }
  std::memcpy(data, text.c_str(), text.size() + 1);
  return data;
}

}  // namespace tovarin::audio
