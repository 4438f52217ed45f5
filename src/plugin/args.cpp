#include "plugin/args.hpp"

#include <utility>

namespace tovarin {

ExportState& Exports() {
  static ExportState state;
  return state;
}

void PushFile(const char* text) {
  auto& q = Exports().FileArgs;
  for (int i = kQueueLength - 1; i > 0; --i) q[i] = std::move(q[i - 1]);
  q[0] = text ? std::string(text) : std::string("0");
}

void PushData(int32_t value) {
  auto& q = Exports().DataArgs;
  for (int i = kQueueLength - 1; i > 0; --i) q[i] = q[i - 1];
  q[0] = value;
}

const std::string& FileArg(int index) {
  static const std::string empty;
  if (index < 0 || index >= kQueueLength) return empty;
  return Exports().FileArgs[index];
}

int32_t DataArg(int index) {
  if (index < 0 || index >= kQueueLength) return 0;
  return Exports().DataArgs[index];
}

void SetFileResult(std::string text) { Exports().FileResult = std::move(text); }

}  // namespace tovarin
