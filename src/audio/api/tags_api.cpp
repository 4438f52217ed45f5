// TAGS_Read: a format text with the stream's tags filled in.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "audio/api/library.hpp"
#include "audio/tags.h"

using namespace tovarin::audio;

namespace {
struct KeyName {
  const char* text;
  TagKey key;
};
constexpr KeyName kKeys[] = {
    {"%TRCK", TagKey::Track}, {"%TITL", TagKey::Title}, {"%ARTI", TagKey::Artist}, {"%ALBM", TagKey::Album},
    {"%GNRE", TagKey::Genre}, {"%YEAR", TagKey::Year},  {"%CMNT", TagKey::Comment},
};
// The answer lives in a plain per-thread buffer: a thread_local with a
// destructor would pin the plug-in in memory after dlclose.
thread_local char* t_answer = nullptr;
thread_local size_t t_capacity = 0;

const char* keep_answer(const std::string& text) {
  if (text.size() + 1 > t_capacity) {
    char* bigger = static_cast<char*>(std::realloc(t_answer, text.size() + 1));
    if (!bigger) throw std::bad_alloc();
    t_answer = bigger;
    t_capacity = text.size() + 1;
  }
  std::memcpy(t_answer, text.c_str(), text.size() + 1);
  return t_answer;
}
}  // namespace

const char* TAGS_Read(DWORD handle, const char* fmt) {
  return guarded<const char*>(nullptr, [&]() -> const char* {
    if (!fmt) return set_error(BASS_ERROR_ILLPARAM), nullptr;
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    Stream* s = find_stream(lib, handle);
    if (!s) return nullptr;
    std::string out;
    for (const char* p = fmt; *p;) {
      const KeyName* hit = nullptr;
      if (*p == '%')
        for (const auto& k : kKeys)
          if (std::strncmp(p, k.text, 5) == 0) hit = &k;
      if (hit) {
        out += s->channel->source().tag(hit->key);
        p += 5;
      } else {
        out += *p++;
      }
    }
    const char* answer = keep_answer(out);
    set_error(BASS_OK);
    return answer;
  });
}
