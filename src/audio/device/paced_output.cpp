#include "audio/device/paced_output.hpp"

#include <atomic>
#include <chrono>

#include "audio/mixer/mixer.hpp"
#include "platform/platform.hpp"

namespace tovarin::audio {

namespace {
std::atomic<bool> g_manual{false};
std::mutex g_current_mu;
PacedOutput* g_current = nullptr;  // the running paced output, for the test hooks
}  // namespace

PacedOutput::PacedOutput(int rate, bool may_idle)
    : rate_(rate), block_(static_cast<size_t>(rate / 100)), may_idle_(may_idle) {}

PacedOutput::~PacedOutput() { stop(); }

bool PacedOutput::start(Mixer* mixer, std::string*) {
  mixer_ = mixer;
  buf_.assign(block_ * 2, 0.f);
  manual_ = g_manual.load();
  quit_ = false;
  thread_ = std::thread([this] { run(); });
  platform::name_thread(thread_, "tovarin-out");
  std::lock_guard lock(g_current_mu);
  g_current = this;
  return true;
}

void PacedOutput::stop() {
  {
    std::lock_guard lock(g_current_mu);
    if (g_current == this) g_current = nullptr;
  }
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  done_cv_.notify_all();
  thread_.join();
  finish();
}

void PacedOutput::wake() {
  {
    std::lock_guard lock(mu_);
    woken_ = true;
  }
  cv_.notify_all();
}

void PacedOutput::run() {
  platform::use_default_float_environment();
  using clock = std::chrono::steady_clock;
  const auto period = std::chrono::nanoseconds(1'000'000'000LL * static_cast<long long>(block_) / rate_);
  auto next = clock::now();
  for (;;) {
    {
      std::unique_lock lock(mu_);
      if (manual_) {
        cv_.wait(lock, [&] { return quit_ || credits_ > 0; });
        if (quit_) return;
        --credits_;
      } else {
        if (cv_.wait_until(lock, next, [&] { return quit_; })) return;
      }
    }
    const bool playing = mixer_->render(buf_.data(), block_);
    consume(buf_.data(), block_);
    bool idle = false;
    {
      std::unique_lock lock(mu_);
      ++rendered_;
      if (!playing && may_idle_ && !manual_) {
        // Nothing to hear and no timeline to keep: sleep until a channel
        // starts playing (woken_ is set under mu_, so a wake that came
        // during the block is not missed).
        sleeping_ = true;
        cv_.wait(lock, [&] { return quit_ || woken_; });
        sleeping_ = false;
        if (quit_) return;
        idle = true;
      }
      woken_ = false;
    }
    done_cv_.notify_all();
    next += period;
    auto now = clock::now();
    if (idle || now - next > std::chrono::milliseconds(200)) next = now;
  }
}

void testing_set_manual_pacing(bool manual) { g_manual.store(manual); }

bool testing_run_blocks(long n) {
  std::lock_guard current_lock(g_current_mu);
  PacedOutput* out = g_current;
  if (!out || !out->manual_) return false;
  std::unique_lock lock(out->mu_);
  long target = out->rendered_ + out->credits_ + n;
  out->credits_ += n;
  out->cv_.notify_all();
  return out->done_cv_.wait_for(lock, std::chrono::seconds(60), [&] { return out->quit_ || out->rendered_ >= target; });
}

bool testing_output_sleeps() {
  std::lock_guard current_lock(g_current_mu);
  PacedOutput* out = g_current;
  if (!out) return false;
  std::lock_guard lock(out->mu_);
  return out->sleeping_;
}

}  // namespace tovarin::audio
