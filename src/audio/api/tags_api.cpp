// TAGS_Read: a format text with the stream's tags filled in, as host text.
#include <cstring>
#include <iterator>
#include <string>

#include "audio/api/library.hpp"
#include "audio/api/thread_text.hpp"
#include "audio/tags.h"
#include "platform/platform.hpp"

using namespace tovarin::audio;

namespace {
// TAGS_KEYS lists the keys in TagKey's order.
static_assert(std::size(TAGS_KEYS) == static_cast<size_t>(TagKey::Comment) + 1);
thread_local ThreadText t_answer;
}  // namespace

const char* TAGS_Read(DWORD handle, const char* fmt) {
  const auto read = [&](Library&, Stream* s, LibraryLock&) -> const char* {
    std::string out;
    for (const char* p = fmt; *p;) {
      int hit = -1;
      if (*p == '%')
        for (size_t k = 0; k < std::size(TAGS_KEYS); ++k)
          if (std::strncmp(p, TAGS_KEYS[k], 5) == 0) hit = static_cast<int>(k);
      if (hit >= 0) {
        out += tovarin::platform::utf8_to_host(s->channel->source().tag(static_cast<TagKey>(hit)));
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
