#include "audio/device/follower.hpp"

namespace tovarin::audio {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kFirstRetry = std::chrono::milliseconds(250);
constexpr auto kLongestRetry = std::chrono::milliseconds(2000);

}  // namespace

void DeviceFollower::start(FollowedDevice& device) {
  {
    std::lock_guard lock(mu_);
    quit_ = false;
  }
  thread_ = std::thread([this, &device] { watch(device); });
}

void DeviceFollower::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void DeviceFollower::watch(FollowedDevice& device) {
  Backoff backoff(kFirstRetry, kLongestRetry);
  auto next_try = std::chrono::steady_clock::now() + backoff.next();
  for (;;) {
    {
      std::unique_lock lock(mu_);
      if (cv_.wait_for(lock, kPollInterval, [&] { return quit_; })) return;
    }
    if (device.finished()) return;
    if (device.has_device() && device.device_lost()) {
      // Lost: the callback ends with the close, then the default device (a
      // new one, if any) or the stand-in carries on.
      device.close_device();
      if (device.resume_on_device()) continue;
      device.start_stand_in();
      backoff.reset();
      next_try = std::chrono::steady_clock::now() + backoff.next();
    } else if (!device.has_device() && std::chrono::steady_clock::now() >= next_try &&
               !device.resume_on_device()) {
      next_try = std::chrono::steady_clock::now() + backoff.next();
    }
  }
}

}  // namespace tovarin::audio
