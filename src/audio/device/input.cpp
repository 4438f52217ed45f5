#include "audio/device/input.hpp"

#include "audio/device/output.hpp"
#include "platform/platform.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tovarin::audio {

namespace {
struct InputEntry {
  const char* name;
  std::unique_ptr<CaptureDevice> (*make)(const std::string& arg, std::string* error);
};
constexpr InputEntry kInputs[] = {
    {"null", make_null_input},
    {"wav", make_wav_input},
    {"sdl", make_sdl_input},
};
}  // namespace

std::unique_ptr<CaptureDevice> open_capture_device(const std::string& choice, std::string* error) {
  if (choice.empty() || choice == "auto") {
    if (sound_system_present())
      if (auto dev = make_sdl_input("", error)) return dev;
    return make_null_input("", error);  // a machine without sound records silence
  }
  auto colon = choice.find(':');
  std::string name = choice.substr(0, colon);
  std::string arg = colon == std::string::npos ? "" : choice.substr(colon + 1);
  for (const auto& e : kInputs)
    if (name == e.name) return e.make(arg, error);
  if (error) *error = "unknown audio input: " + name;
  return nullptr;
}

struct PacedCapture::Impl {
  CaptureSink sink;
  std::thread thread;
  std::mutex mu;
  std::condition_variable cv;
  bool quit = false;  // guarded by mu
};

PacedCapture::PacedCapture(int rate, int channels, CaptureSink sink)
    : rate_(rate), channels_(channels), impl_(std::make_unique<Impl>()) {
  impl_->sink = std::move(sink);
}

PacedCapture::~PacedCapture() { stop(); }

void PacedCapture::begin() {
  impl_->thread = std::thread([this] {
    platform::use_default_float_environment();
    using clock = std::chrono::steady_clock;
    const size_t frames = std::max(1, rate_ / 100);
    std::vector<int16_t> buf(frames * channels_);
    auto next = clock::now() + std::chrono::milliseconds(10);
    for (;;) {
      {
        std::unique_lock lock(impl_->mu);
        if (impl_->cv.wait_until(lock, next, [&] { return impl_->quit; })) return;
      }
      fill(buf.data(), frames);
      if (!impl_->sink(buf.data(), frames)) return;
      next += std::chrono::milliseconds(10);
      if (clock::now() - next > std::chrono::milliseconds(200)) next = clock::now();
    }
  });
}

void PacedCapture::stop() {
  if (!impl_->thread.joinable()) return;
  {
    std::lock_guard lock(impl_->mu);
    impl_->quit = true;
  }
  impl_->cv.notify_all();
  impl_->thread.join();
}

}  // namespace tovarin::audio
