#include "plugin/args.hpp"

#include <utility>

namespace tovarin {

void ArgQueues::PushFile(const char* text) {
  for (int i = kQueueLength - 1; i > 0; --i) FileArgs[i] = std::move(FileArgs[i - 1]);
  FileArgs[0] = text ? std::string(text) : std::string("0");
}

void ArgQueues::PushData(int32_t value) {
  for (int i = kQueueLength - 1; i > 0; --i) DataArgs[i] = DataArgs[i - 1];
  DataArgs[0] = value;
}

const std::string& ArgQueues::FileArg(int index) const {
  static const std::string empty;
  if (index < 0 || index >= kQueueLength) return empty;
  return FileArgs[index];
}

int32_t ArgQueues::DataArg(int index) const {
  if (index < 0 || index >= kQueueLength) return 0;
  return DataArgs[index];
}

}  // namespace tovarin
