// Transport with volume fades: an export records a command and starts a
// worker; the worker posts the volume steps to the form, whose ChangeVolume
// handler sets the volume and carries out the command on the host's thread.
//
// Threads: Start and End run on the host's thread. The workers read
// PendingCommand and SavedVolume (atomic words shared with the host's
// thread) and post to the form; they touch no player field.
//
// At most one worker waits for FadeLock behind the running one: it reads
// PendingCommand only once it holds the lock, so it carries out whatever
// command is the latest by then, and a newer command needs no worker of its
// own. So however fast the host asks, two workers at most exist.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tovarin {

struct FadeLink;

// Transport commands (PendingCommand).
constexpr int32_t kCommandStop = 1;
constexpr int32_t kCommandPlay = 2;
constexpr int32_t kCommandPause = 3;

class TFadeWorkers {
 public:
  TFadeWorkers() = default;
  ~TFadeWorkers() { End(kUnloading); }
  TFadeWorkers(const TFadeWorkers&) = delete;
  TFadeWorkers& operator=(const TFadeWorkers&) = delete;

  // Written by the host's thread (the transport exports); a worker loads it
  // once it holds FadeLock, and again between its two runs of steps.
  std::atomic<int32_t> PendingCommand{0};
  // Written by the host's thread (the form's GetVolume handler) before it
  // answers the worker's request; the worker loads it once it has seen the
  // answer under FadeLink::Mutex, which orders the two.
  std::atomic<int32_t> SavedVolume{0};
  // Made anew by every Bass_Init; each worker holds the one it entered.
  // The pointer itself is host-thread state; null before the first Bass_Init.
  std::shared_ptr<std::mutex> FadeLock;

  // Starts a fade through the form's link (none without a link or a lock,
  // or once the plug-in unloads).
  void Start(const std::shared_ptr<FadeLink>& link);

  // Why the fades end: the library was freed (Bass_Free: fades may start
  // again afterwards) or the plug-in unloads (none starts again).
  enum Reason { kLibraryFreed, kUnloading };
  // Ends the running and waiting fades at their next step and joins them.
  void End(Reason why) noexcept;

 private:
  class Fade;
  struct Worker {
    std::thread thread;
    // Stored by the worker as its last act; Start loads it to join the
    // finished ones.
    std::shared_ptr<std::atomic<bool>> done;
  };
  bool Ending() const { return unloading_.load() || freeing_library_.load(); }

  // Written by the host's thread (End); the workers load them before every
  // step.
  // Set for good when the plug-in unloads.
  std::atomic<bool> unloading_{false};
  // Set while Bass_Free ends the running fades.
  std::atomic<bool> freeing_library_{false};
  // Host thread (Start, End) and workers (entering FadeLock) both take it.
  std::mutex mutex_;
  std::vector<Worker> workers_;  // guarded by mutex_
  int waiting_ = 0;              // guarded by mutex_: started, FadeLock not yet entered
};

}  // namespace tovarin
