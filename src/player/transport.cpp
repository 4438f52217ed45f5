// Transport with volume fades: the exports record a command and start a
// worker; the worker posts the volume steps to the form, whose ChangeVolume
// handler sets the volume and carries out the command on the host's thread.
#include <chrono>
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

// A host that stops pumping altogether leaves a worker waiting for the
// form's answer; after this long it gives the fade up.
constexpr auto kAnswerLimit = std::chrono::seconds(30);
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

// The workers' threads. A worker's last act is to mark itself done; the next
// StartFade joins the finished ones, and unloading joins them all, so no
// worker runs the library's code after it is gone.
struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};
struct WorkerList {
  std::mutex mutex;
  std::vector<Worker> workers;  // guarded by mutex
};
WorkerList& Workers() {
  static WorkerList list;
  return list;
}

// Joins the workers that are done (called with list.mutex held).
void JoinEnded(WorkerList& list) {
  for (auto it = list.workers.begin(); it != list.workers.end();) {
    if (it->done->load()) {
      it->thread.join();
      platform::release_module();
      it = list.workers.erase(it);
    } else {
      ++it;
    }
  }
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
    if (!RequestVolume()) return;
    const int32_t command = PendingCommand.load();
    if (command == kCommandStop || command == kCommandPause) {
      const int32_t n = SavedVolume.load();
      for (int32_t s = n; s >= 1; --s)
        if (!PostStep(s)) return;
    }
    if (PendingCommand.load() == kCommandPlay) {
      const int32_t n = SavedVolume.load();
      for (int32_t s = 1; s <= n; ++s)
        if (!PostStep(s)) return;
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
      if (!link_->Alive || g_unloading.load() || std::chrono::steady_clock::now() >= limit) return false;
      link_->Answered.wait_for(lock, kWaitSlice);
    }
    return true;
  }

  bool PostStep(int32_t s) {
    Step = s;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (g_unloading.load()) return false;
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
  JoinEnded(list);
  // A worker runs this module's code: it stays loaded until it is joined.
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
}

void PrepareFadeWorkers() { Workers(); }

void JoinEndedFadeWorkers() {
  auto& list = Workers();
  std::lock_guard<std::mutex> lock(list.mutex);
  JoinEnded(list);
}

void StopFadeWorkers() noexcept {
  g_unloading.store(true);
  std::vector<Worker> workers;
  {
    auto& list = Workers();
    std::lock_guard<std::mutex> lock(list.mutex);
    workers.swap(list.workers);
  }
  // A Windows process that is ending has ended them already.
  const bool gone = platform::process_exiting();
  for (auto& w : workers)
    if (w.thread.joinable()) gone ? w.thread.detach() : w.thread.join();
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
