// Following the system's default device, for the SDL output and capture.
//
// A watcher thread, neither the audio thread nor the control thread, looks
// at the current device a few times a second while one is open. When it is
// lost (SDL marks it stopped), the watcher closes it and opens the default
// device again, which reaches the new default when there is one. When none
// opens, a silent stand-in takes over in real time, and the watcher tries
// the default device again and again, less often as time goes by
// (backoff.hpp); once one opens, the stand-in stops and the device carries
// on.
//
// A device with nothing to play for a while (idle()) is closed, and the
// watcher sleeps without a timeout until wake() (something plays again),
// then opens the default device at once: an idle output costs no wake-ups.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "audio/device/backoff.hpp"

namespace tovarin::audio {

// What the watcher does with a device; all of it runs on the watcher thread
// while it follows (and on the control thread before and after).
class FollowedDevice {
 public:
  virtual bool has_device() const = 0;
  // The current device has been lost.
  virtual bool device_lost() const = 0;
  // Closes the lost device (a running callback ends first).
  virtual void close_device() = 0;
  // Opens the default device and moves onto it, stopping the stand-in first.
  // False when no device opens.
  virtual bool resume_on_device() = 0;
  // Starts the silent stand-in.
  virtual void start_stand_in() = 0;
  // Following ends early when this turns true.
  virtual bool finished() const { return false; }
  // The open device has had nothing to play for a while: it may be closed
  // until DeviceFollower::wake().
  virtual bool idle() const { return false; }

 protected:
  ~FollowedDevice() = default;
};

class DeviceFollower {
 public:
  ~DeviceFollower() { stop(); }
  // Starts following device on a thread of its own.
  void start(FollowedDevice& device);
  // Ends following and joins the thread; nothing happens to the device.
  void stop();
  // Any thread: something is to be played. A device closed while idle opens
  // again at once; an open one is not closed on this look.
  void wake();

 private:
  void watch(FollowedDevice& device);

  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  // guarded by mu_
  bool quit_ = false;
  bool woken_ = false;
};

}  // namespace tovarin::audio
