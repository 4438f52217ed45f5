// TAGS_Read: a format text with the stream's tags filled in, as host text.
#include <cstring>
#include <string>

#include "audio/api/library.hpp"
#include "audio/api/thread_text.hpp"
#include "audio/tags.h"
#include "platform/platform.hpp"

using namespace tovarin::audio;

namespace {
struct KeyName {
  const char* text;
  TagKey key;
};
constexpr KeyName kKeys[] = {
    {"%TRCK", TagKey::Track}, {"%TITL", TagKey::Title}, {"%ARTI", TagKey::Artist},  {"%ALBM", TagKey::Album},
    {"%GNRE", TagKey::Genre}, {"%YEAR", TagKey::Year},  {"%CMNT", TagKey::Comment},
};
thread_local ThreadText t_answer;
}  // namespace

const char* TAGS_Read(DWORD handle, const char* fmt) {
  const auto read = [&](Library&, Stream* s, LibraryLock&) -> const char* {
    std::string out;
    for (const char* p = fmt; *p;) {
      const KeyName* hit = nullptr;
      if (*p == '%')
        for (const auto& k : kKeys)
          if (std::strncmp(p, k.text, 5) == 0) hit = &k;
      if (hit) {
        out += tovarin::platform::utf8_to_host(s->channel->source().tag(hit->key));
        p += 5;
      } else {
        out += *p++;
      }
    }
    const char* answer = t_answer.keep(out);
    set_error(BASS_OK);
    return answer;
  };
  return guarded<const char*>(nullptr, [&]() -> const char* {
    if (!fmt) return set_error(BASS_ERROR_ILLPARAM), nullptr;
    Retired retired;
    return with_stream_op<const char*>(handle, nullptr, retired, read);
  });
}
