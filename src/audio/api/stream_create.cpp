// Streams from files and URLs. Kept apart from the rest of the library so
// that programs which only make streams from their own sources need no
// decoder.
#include <string>

#include "audio/api/fault.hpp"
#include "audio/api/library.hpp"
#include "platform/platform.hpp"

using namespace tovarin::audio;

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
  return guarded<HSTREAM>(0, [&]() -> HSTREAM {
    if (mem || offset || length) return fail(BASS_ERROR_NOTAVAIL);
    if (!file) return fail(BASS_ERROR_FILEOPEN);
    {
      Library& lib = library();
      std::lock_guard lock(lib.mu);
      if (!lib.initialised) return fail(BASS_ERROR_INIT);
    }
    int error = BASS_ERROR_FILEOPEN;
    // The path is host text; FFmpeg and the file calls take UTF-8.
    // A decoding stream is only ever pulled by its caller: it decodes as it is pulled.
    if (fault::fail(fault::Kind::File)) return fail(BASS_ERROR_FILEOPEN);
    auto source = open_file_source(tovarin::platform::host_to_utf8(static_cast<const char*>(file)), &error,
                                   (flags & BASS_STREAM_DECODE) != 0);
    if (!source) return fail(error ? error : BASS_ERROR_FILEOPEN);
    return create_stream_from_source(std::move(source), flags);
  });
}

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC*, void*) {
  return guarded<HSTREAM>(0, [&]() -> HSTREAM {
    if (!url) return fail(BASS_ERROR_FILEOPEN);
    if (offset) return fail(BASS_ERROR_NOTAVAIL);
    {
      Library& lib = library();
      std::lock_guard lock(lib.mu);
      if (!lib.initialised) return fail(BASS_ERROR_INIT);
    }
    // Opening waits on the network: done before the library is locked.
    int error = BASS_ERROR_FILEOPEN;
    if (fault::fail(fault::Kind::File)) return fail(BASS_ERROR_FILEOPEN);
    auto source = open_url_source(tovarin::platform::host_to_utf8(url), &error);
    if (!source) return fail(error ? error : BASS_ERROR_FILEOPEN);
    return create_stream_from_source(std::move(source), flags);
  });
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  return guarded<QWORD>(static_cast<QWORD>(-1), [&]() -> QWORD {
    Retired retired;
    constexpr QWORD kNone = static_cast<QWORD>(-1);
    return with_stream_op<QWORD>(handle, kNone, retired, [&](Library&, Stream* s, LibraryLock&) -> QWORD {
      int64_t pos = s->channel->source().file_position(mode);
      if (pos < 0) return set_error(BASS_ERROR_NOTAVAIL), kNone;
      set_error(BASS_OK);
      return static_cast<QWORD>(pos);
    });
  });
}
