// The plug-in's argument queues and result slots.
//
// A host pushes strings (SetFile) and integers (SetData) onto two ten-entry
// queues, entry 0 the newest, then calls an operation export that reads the
// entries it needs. Nothing is ever consumed: an entry stays readable until
// ten more pushes of its kind have moved it out. A query export leaves its
// answer in FileResult, which GetFile returns.
//
// Threads: all of this belongs to the host's thread (the thread that calls
// the exports); there is no lock. Strings are owned copies; the pointer that
// GetFile hands out stays valid until the next export that writes the result.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tovarin {

constexpr int kQueueLength = 10;

class ArgQueues {
 public:
  std::array<std::string, kQueueLength> FileArgs;
  std::array<int32_t, kQueueLength> DataArgs{};
  std::string FileResult;
  int32_t DataResult = 0;  // nothing writes it: GetData always answers 0
  std::string PluginPath;

  void PushFile(const char* text);  // null pushes "0"
  void PushData(int32_t value);
  // Entries outside 0..9 read as empty / 0.
  const std::string& FileArg(int index) const;
  int32_t DataArg(int index) const;
  void SetFileResult(std::string text) { FileResult = std::move(text); }
};

}  // namespace tovarin
