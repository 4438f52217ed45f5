// Transport with volume fades: the exports record a command and start a
// worker; the worker posts the volume steps to the form, whose ChangeVolume
// handler sets the volume and carries out the command on the host's thread.
#include <algorithm>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "form/main_form.hpp"
#include "platform/platform.hpp"
#include "player/stream_player.hpp"

namespace tovarin {

std::atomic<int32_t> PendingCommand{0};
std::atomic<int32_t> SavedVolume{0};
std::shared_ptr<std::mutex> FadeLock;

namespace {

// Set when the library unloads: every worker ends at its next step.
std::atomic<bool> g_unloading{false};
// Set while Bass_Free ends the running fades: they end at their next step.
std::atomic<bool> g_ending{false};

// A fade has at most this many steps: above it the steps grow, so that no
// volume, however large, holds the transport for more than about 2 s.
constexpr int64_t kMostSteps = 2000;

// A host that stops pumping altogether leaves a worker waiting for the
// form's answer; after this long it gives the fade up.
constexpr auto kAnswerLimit = std::chrono::seconds(30);
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

// The workers' threads. A worker's last act is to mark itself done; the next
// StartFade joins the finished ones, and unloading joins them all, so no
// worker runs the library's code after it is gone.
//
// At most one worker waits for FadeLock behind the running one: it reads
// PendingCommand only once it holds the lock, so it carries out whatever
// command is the latest by then, and a newer command needs no worker of its
// own. So however fast the host asks, two workers at most exist.
struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};
struct WorkerList {
  std::mutex mutex;
  std::vector<Worker> workers;  // guarded by mutex
  int waiting = 0;              // guarded by mutex: started, FadeLock not yet entered
};
// Built in place and never destroyed: when a Windows process ends, its
// workers are gone without having been joined, and destroying a joinable
// std::thread ends the process. An unload has emptied it (StopFadeWorkers).
WorkerList& Workers() {
  alignas(WorkerList) static unsigned char storage[sizeof(WorkerList)];
  static WorkerList* list = new (storage) WorkerList;
  return *list;
}

// A worker runs this module's code: the module stays loaded from the
// worker's start until it is joined (see platform::hold_module).
void Join(Worker& w) {
  w.thread.join();
  platform::release_module();
}

// Every worker of the list, taken out of it (host thread; never at process
// exit, see UnloadGuard).
void JoinAll(std::vector<Worker>& workers) {
  for (auto& w : workers)
    if (w.thread.joinable()) Join(w);
}

class TVolumeEffect {
 public:
  TVolumeEffect(std::shared_ptr<std::mutex> lock, std::shared_ptr<FadeLink> link)
      : lock_(std::move(lock)), link_(std::move(link)) {}

  int32_t Step = 0;

  void Execute() {
    // The worker keeps the lock it entered alive, even if Bass_Init has
    // made a new FadeLock meanwhile.
    std::lock_guard<std::mutex> fade(*lock_);
    {
      // From here on a new command needs a worker of its own.
      auto& list = Workers();
      std::lock_guard<std::mutex> registry(list.mutex);
      --list.waiting;
    }
    if (!RequestVolume()) return;
    // Up to kMostSteps steps of 1 percent; beyond, steps of `stride`, always
    // ending on the same values (N ... 3, 2, 1 down; 1, 2 ... N up), since
    // steps 1 and 2 are where the form carries the command out.
    const int32_t command = PendingCommand.load();
    if (command == kCommandStop || command == kCommandPause) {
      const int64_t n = SavedVolume.load();
      const int64_t stride = Stride(n);
      for (int64_t s = n; s >= 1; s = s <= 2 ? s - 1 : std::max<int64_t>(s - stride, 2))
        if (!PostStep(static_cast<int32_t>(s))) return;
    }
    if (PendingCommand.load() == kCommandPlay) {
      const int64_t n = SavedVolume.load();
      const int64_t stride = Stride(n);
      for (int64_t s = 1; s <= n; s = s == n ? n + 1 : std::min<int64_t>(s + stride, n))
        if (!PostStep(static_cast<int32_t>(s))) return;
    }
  }

 private:
  // Posts MSG_GET_VOLUME and waits until the form has answered this very
  // request, so that SavedVolume is the Volume current when it was handled.
  bool RequestVolume() {
    std::unique_lock<std::mutex> lock(link_->Mutex);
    if (!link_->Alive) return false;
    // Posting and counting under one lock keeps the tickets in posting
    // order, which is the order the form answers in.
    if (!tovui::post_message(link_->Window, MSG_GET_VOLUME, 0, 0)) return false;
    const uint64_t ticket = ++link_->Requests;
    const auto limit = std::chrono::steady_clock::now() + kAnswerLimit;
    while (link_->Answers < ticket) {
      if (!link_->Alive || g_unloading.load() || g_ending.load() || std::chrono::steady_clock::now() >= limit)
        return false;
      link_->Answered.wait_for(lock, kWaitSlice);
    }
    return true;
  }

  static int64_t Stride(int64_t n) { return n > kMostSteps ? (n + kMostSteps - 1) / kMostSteps : 1; }

  bool PostStep(int32_t s) {
    Step = s;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (g_unloading.load() || g_ending.load()) return false;
    // Posting to a dead form fails, and then the fade ends.
    return tovui::post_message(link_->Window, MSG_CHANGE_VOLUME, 0, Step);
  }

  std::shared_ptr<std::mutex> lock_;
  std::shared_ptr<FadeLink> link_;
};

}  // namespace

void TStreamPlayer::StartFade() {
  // Before the first Bass_Init there is no FadeLock, and no form before
  // SetParentWindow: no fade then.
  if (!FadeLock || !MainForm || g_unloading.load()) return;
  auto effect = std::make_shared<TVolumeEffect>(FadeLock, MainForm->Fade);
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto& list = Workers();
  std::lock_guard<std::mutex> lock(list.mutex);
  for (auto it = list.workers.begin(); it != list.workers.end();) {
    if (it->done->load()) {
      Join(*it);
      it = list.workers.erase(it);
    } else {
      ++it;
    }
  }
  // The waiting worker will read the PendingCommand just written.
  if (list.waiting > 0) return;
  list.workers.reserve(list.workers.size() + 1);
  platform::hold_module();
  list.workers.push_back(Worker{std::thread([effect, done] {
                               platform::lower_thread_priority();
                               // A failure (out of memory while posting) ends
                               // this fade; it must not end the host.
                               try {
                                 effect->Execute();
                               } catch (...) {
                               }
                               done->store(true);
                             }),
                             done});
  // Counted once it exists; it cannot enter FadeLock's count before we let
  // go of the registry.
  ++list.waiting;
  platform::name_thread(list.workers.back().thread, "tovarin-fade");
}

void PrepareFadeWorkers() { Workers(); }

void EndFades() noexcept {
  // Host thread, as StartFade: no worker starts while these are joined.
  g_ending.store(true);
  std::vector<Worker> workers;
  {
    auto& list = Workers();
    std::lock_guard<std::mutex> lock(list.mutex);
    workers.swap(list.workers);
  }
  JoinAll(workers);
  g_ending.store(false);
}

void StopFadeWorkers() noexcept {
  g_unloading.store(true);
  std::vector<Worker> workers;
  {
    auto& list = Workers();
    std::lock_guard<std::mutex> lock(list.mutex);
    workers.swap(list.workers);
  }
  JoinAll(workers);
}

void TStreamPlayer::Play(int32_t index) {
  if (!ValidSlot(index)) return;
  try {
    if (Stopped == 1) {
      Stopped = 0;
      BASS_ChannelSetPosition(Streams[index], BASS_ChannelSeconds2Bytes(Streams[index], 0.0), BASS_POS_BYTE);
      if (IsUrl == 1)
        Streams[index] =
            BASS_StreamCreateURL(SourceNames[index].c_str(), 0, BASS_STREAM_AUTOFREE, nullptr, nullptr);
    }
    if (Streams[index] != 0) BASS_ChannelPlay(Streams[index], 0);
  } catch (...) {
    ShowMessage("Play Error");
  }
}

void TStreamPlayer::Stop(int32_t index) {
  if (!ValidSlot(index)) return;
  try {
    if (Streams[index] != 0) {
      Stopped = 1;
      BASS_ChannelStop(Streams[index]);
      if (IsUrl == 1) BASS_StreamFree(Streams[index]);
    }
  } catch (...) {
    ShowMessage("Stop Error");
  }
}

void TStreamPlayer::Pause(int32_t index) {
  if (!ValidSlot(index)) return;
  Stopped = 0;
  BASS_ChannelPause(Streams[index]);
}

}  // namespace tovarin
