#include "audio/device/follower.hpp"

#include "platform/platform.hpp"

namespace tovarin::audio {

namespace {

// How often an open device is looked at: whether it is lost, or idle.
constexpr auto kCheckInterval = std::chrono::milliseconds(250);
constexpr auto kFirstRetry = std::chrono::milliseconds(250);
constexpr auto kLongestRetry = std::chrono::milliseconds(2000);

}  // namespace

void DeviceFollower::start(FollowedDevice& device) {
  {
    std::lock_guard lock(mu_);
    quit_ = false;
    woken_ = false;
  }
  thread_ = std::thread([this, &device] { watch(device); });
  platform::name_thread(thread_, "tovarin-follow");
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

void DeviceFollower::wake() {
  {
    std::lock_guard lock(mu_);
    woken_ = true;
  }
  cv_.notify_all();
}

void DeviceFollower::watch(FollowedDevice& device) {
  platform::use_default_float_environment();
  Backoff backoff(kFirstRetry, kLongestRetry);
  auto next_try = std::chrono::steady_clock::now() + backoff.next();
  bool parked = false;  // the device was closed for want of anything to play
  for (;;) {
    bool woken;
    {
      std::unique_lock lock(mu_);
      const auto called = [&] { return quit_ || woken_; };
      if (parked)
        cv_.wait(lock, called);
      else if (device.has_device())
        cv_.wait_for(lock, kCheckInterval, called);
      else
        cv_.wait_until(lock, next_try, called);
      if (quit_) return;
      woken = woken_;
      woken_ = false;
    }
    if (device.finished()) return;
    if (parked) {
      // Something plays: the default device now, else the stand-in.
      parked = false;
      if (device.resume_on_device()) continue;
      device.start_stand_in();
      backoff.reset();
      next_try = std::chrono::steady_clock::now() + backoff.next();
    } else if (device.has_device() && device.device_lost()) {
      // Lost: the callback ends with the close, then the default device (a
      // new one, if any) or the stand-in carries on.
      device.close_device();
      if (device.resume_on_device()) continue;
      device.start_stand_in();
      backoff.reset();
      next_try = std::chrono::steady_clock::now() + backoff.next();
    } else if (device.has_device()) {
      // A wake since the last look may not have reached the callback yet.
      if (!woken && device.idle()) {
        device.close_device();
        parked = true;  // a wake from now on is seen by the wait above
      }
    } else if (std::chrono::steady_clock::now() >= next_try && !device.resume_on_device()) {
      next_try = std::chrono::steady_clock::now() + backoff.next();
    }
  }
}

}  // namespace tovarin::audio
