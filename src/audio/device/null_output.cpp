// The silent output: renders in real time and drops the sound.
#include "audio/device/paced_output.hpp"

namespace tovarin::audio {

namespace {
class NullOutput final : public PacedOutput {
 public:
  explicit NullOutput(int rate) : PacedOutput(rate, /*may_idle=*/true) {}
  ~NullOutput() override { stop(); }

 protected:
  void consume(const float*, size_t) override {}
};
}  // namespace

std::unique_ptr<Output> make_null_output(const std::string&, int rate) { return std::make_unique<NullOutput>(rate); }

}  // namespace tovarin::audio
