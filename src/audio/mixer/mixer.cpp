#include "audio/mixer/mixer.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/api/fault.hpp"
#include "audio/mixer/channel.hpp"

namespace tovarin::audio {

Mixer::Mixer(int rate) : rate_(rate), current_(std::make_unique<List>()) {
  list_.store(current_.get(), std::memory_order_release);
}

Mixer::~Mixer() = default;

bool Mixer::render(float* out, size_t frames) {
  auto t0 = std::chrono::steady_clock::now();
  seq_.fetch_add(1, std::memory_order_seq_cst);
  const List* list = list_.load(std::memory_order_seq_cst);
  std::fill(out, out + frames * 2, 0.f);
  bool any_ended = false, any_playing = false;
  for (size_t done = 0; done < frames;) {
    size_t n = std::min(frames - done, Channel::kMaxBlock);
    float* o = out + done * 2;
    for (Channel* ch : *list) {
      if (ch->excluded() || ch->state() != PlayState::Playing) continue;
      any_playing = true;
      any_ended |= ch->mix_into(o, n);
    }
    done += n;
  }
  for (size_t i = 0; i < frames * 2; ++i) out[i] = std::clamp(out[i], -1.f, 1.f);
  seq_.fetch_add(1, std::memory_order_seq_cst);
  if (any_ended) ended_flag_.store(true, std::memory_order_release);

  double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double period = static_cast<double>(frames) / rate_;
  if (period > 0) {
    double alpha = std::min(1.0, period / 0.5);
    float cpu = cpu_.load(std::memory_order_relaxed);
    cpu_.store(static_cast<float>(cpu + alpha * (100.0 * spent / period - cpu)), std::memory_order_relaxed);
  }
  return any_playing;
}

void Mixer::synchronize() {
  uint64_t s = seq_.load(std::memory_order_seq_cst);
  if ((s & 1) == 0) return;
  while (seq_.load(std::memory_order_seq_cst) == s) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void Mixer::publish(List next) {
  auto fresh = std::make_unique<List>(std::move(next));
  list_.store(fresh.get(), std::memory_order_seq_cst);
  synchronize();
  current_ = std::move(fresh);
}

void Mixer::add(Channel* channel) {
  fault::alloc();  // the new list
  std::lock_guard lock(edit_mu_);
  List next = *current_;
  next.push_back(channel);
  publish(std::move(next));
}

void Mixer::remove(Channel* channel) {
  std::lock_guard lock(edit_mu_);
  List next = *current_;
  next.erase(std::remove(next.begin(), next.end(), channel), next.end());
  publish(std::move(next));
}

void Mixer::set_excluded(Channel* channel, bool excluded) { channel->set_excluded(excluded); }

}  // namespace tovarin::audio
