// Transport with volume fades (fades.hpp), and the player's side of it:
// Play, Stop and Pause.
#include <algorithm>
#include <chrono>

#include "audio/bass.h"
#include "form/main_form.hpp"
#include "platform/platform.hpp"
#include "player/fades.hpp"
#include "player/report.hpp"
#include "player/stream_player.hpp"

namespace tovarin {

namespace {

// A fade has at most this many steps: above it the steps grow, so that no
// volume, however large, holds the transport for more than about 2 s.
constexpr int64_t kMostSteps = 2000;

// A host that stops pumping altogether leaves a worker waiting for the
// form's answer; after this long it gives the fade up.
constexpr auto kAnswerLimit = std::chrono::seconds(30);
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

}  // namespace

// One fade: asks the form for the volume, then posts the steps.
class TFadeWorkers::Fade {
 public:
  Fade(TFadeWorkers& owner, std::shared_ptr<std::mutex> lock, std::shared_ptr<FadeLink> link)
      : owner_(owner), lock_(std::move(lock)), link_(std::move(link)) {}

  int32_t Step = 0;

  void Execute() {
    // The worker keeps the lock it entered alive, even if Bass_Init has
    // made a new FadeLock meanwhile.
    std::lock_guard<std::mutex> fade(*lock_);
    {
      // From here on a new command needs a worker of its own.
      std::lock_guard<std::mutex> registry(owner_.mutex_);
      --owner_.waiting_;
    }
    if (!RequestVolume()) return;
    // One step a millisecond, kept to by deadlines (a 1 ms sleep is a whole
    // 15.6 ms tick on Windows unless the timer is made finer).
    platform::StepPacer pacer(std::chrono::milliseconds(1));
    // Up to kMostSteps steps of 1 percent; beyond, steps of `stride`, always
    // ending on the same values (N ... 3, 2, 1 down; 1, 2 ... N up), since
    // steps 1 and 2 are where the form carries the command out.
    const int32_t command = owner_.PendingCommand.load();
    if (command == kCommandStop || command == kCommandPause) {
      const int64_t n = owner_.SavedVolume.load();
      const int64_t stride = Stride(n);
      for (int64_t s = n; s >= 1; s = s <= 2 ? s - 1 : std::max<int64_t>(s - stride, 2))
        if (!PostStep(pacer, static_cast<int32_t>(s))) return;
    }
    if (owner_.PendingCommand.load() == kCommandPlay) {
      const int64_t n = owner_.SavedVolume.load();
      const int64_t stride = Stride(n);
      for (int64_t s = 1; s <= n; s = s == n ? n + 1 : std::min<int64_t>(s + stride, n))
        if (!PostStep(pacer, static_cast<int32_t>(s))) return;
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
      if (!link_->Alive || owner_.Ending() || std::chrono::steady_clock::now() >= limit) return false;
      link_->Answered.wait_for(lock, kWaitSlice);
    }
    return true;
  }

  static int64_t Stride(int64_t n) { return n > kMostSteps ? (n + kMostSteps - 1) / kMostSteps : 1; }

  bool PostStep(platform::StepPacer& pacer, int32_t s) {
    Step = s;
    pacer.wait();
    if (owner_.Ending()) return false;
    // Posting to a dead form fails, and then the fade ends.
    return tovui::post_message(link_->Window, MSG_CHANGE_VOLUME, 0, Step);
  }

  TFadeWorkers& owner_;
  std::shared_ptr<std::mutex> lock_;
  std::shared_ptr<FadeLink> link_;
};

namespace {

// A worker runs this module's code: the module stays loaded from the
// worker's start until it is joined (see platform::hold_module).
void Join(std::thread& thread) {
  thread.join();
  platform::release_module();
}

}  // namespace

// A worker's last act is to mark itself done; the next Start joins the
// finished ones, and End joins them all, so no worker runs the library's code
// after it is gone.
void TFadeWorkers::Start(const std::shared_ptr<FadeLink>& link) {
  // Before the first Bass_Init there is no FadeLock, and no form before
  // SetParentWindow: no fade then.
  if (!FadeLock || !link || unloading_.load()) return;
  auto fade = std::make_shared<Fade>(*this, FadeLock, link);
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      Join(it->thread);
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  // The waiting worker will read the PendingCommand just written.
  if (waiting_ > 0) return;
  workers_.reserve(workers_.size() + 1);
  platform::hold_module();
  workers_.push_back(Worker{std::thread([fade, done] {
                              platform::use_default_float_environment();
                              platform::lower_thread_priority();
                              // A failure (out of memory while posting) ends
                              // this fade; it must not end the host.
                              try {
                                fade->Execute();
                              } catch (...) {
                              }
                              done->store(true);
                            }),
                            done});
  // Counted once it exists; it cannot enter FadeLock's count before we let
  // go of the registry.
  ++waiting_;
  platform::name_thread(workers_.back().thread, "tovarin-fade");
}

void TFadeWorkers::End(Reason why) noexcept {
  // Host thread, as Start: no worker starts while these are joined.
  std::atomic<bool>& flag = why == kUnloading ? unloading_ : freeing_library_;
  flag.store(true);
  std::vector<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  // Never at the end of a Windows process, whose workers are gone (see
  // ThePlugin): the host's thread joins them.
  for (auto& w : workers)
    if (w.thread.joinable()) Join(w.thread);
  // After Bass_Free new fades may start; after unloading none.
  if (why == kLibraryFreed) freeing_library_.store(false);
}

// A fault inside the library shows the operation's message and ends it
// there; a refusal (a 0 or freed handle) is passed over (report.hpp).
void TStreamPlayer::Play(int32_t index) {
  if (!ValidSlot(index)) return;
  TSlot& slot = slots_[index];
  if (flags_.Stopped) {
    flags_.Stopped = false;
    const QWORD start = BASS_ChannelSeconds2Bytes(slot.Stream, 0.0);
    if (!Report(start != static_cast<QWORD>(-1), "Play Error")) return;
    if (!Report(BASS_ChannelSetPosition(slot.Stream, start, BASS_POS_BYTE), "Play Error")) return;
    if (flags_.IsUrl) {
      const HSTREAM url = BASS_StreamCreateURL(slot.SourceName.c_str(), 0, BASS_STREAM_AUTOFREE, nullptr, nullptr);
      if (!Report(url != 0, "Play Error")) return;
      slot.Stream = url;
    }
  }
  if (slot.Stream != 0) Report(BASS_ChannelPlay(slot.Stream, 0), "Play Error");
}

void TStreamPlayer::Stop(int32_t index) {
  if (!ValidSlot(index) || Stream(index) == 0) return;
  flags_.Stopped = true;
  if (!Report(BASS_ChannelStop(Stream(index)), "Stop Error")) return;
  if (flags_.IsUrl) Report(BASS_StreamFree(Stream(index)), "Stop Error");
}

void TStreamPlayer::Pause(int32_t index) {
  if (!ValidSlot(index)) return;
  flags_.Stopped = false;
  BASS_ChannelPause(Stream(index));
}

}  // namespace tovarin
