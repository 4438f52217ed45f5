// The WAV output: what is heard, as a 16-bit stereo PCM WAV file, paced in
// real time. The header's sizes are patched every second, when the library
// is freed, and when the process exits normally or the library is unloaded
// (a static destructor, which unlike atexit is tied to this module), so the
// file is valid in each of those cases.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "audio/device/paced_output.hpp"
#include "platform/platform.hpp"

namespace tovarin::audio {

namespace {

// Takes the lock, except at process exit, where the thread that held it may
// have been ended inside it: then only tries. False when not taken.
bool lock_unless_abandoned(std::unique_lock<std::mutex>& lock) {
  if (!platform::process_exiting()) {
    lock.lock();
    return true;
  }
  return lock.try_lock();
}

class WavOutput;
std::mutex g_open_mu;
std::set<WavOutput*>* g_open = nullptr;  // never destroyed: another static destructor may still use it
void finalize_all_at_exit();
struct FinalizeAtExit {
  ~FinalizeAtExit() { finalize_all_at_exit(); }
} g_finalize_at_exit;

void put16(uint8_t* p, uint16_t v) {
  p[0] = v & 0xff;
  p[1] = v >> 8;
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xff;
}

class WavOutput final : public PacedOutput {
 public:
  WavOutput(std::string path, int rate) : PacedOutput(rate), path_(std::move(path)), rate_(rate) {}
  ~WavOutput() override {
    stop();
    close();
  }

  bool start(Mixer* mixer, std::string* error) override {
    file_ = platform::open_file(path_, "wb");
    if (!file_) {
      if (error) *error = "cannot create " + path_;
      return false;
    }
    data_bytes_ = 0;
    write_header();
    pcm_.assign(block_frames() * 2, 0);
    {
      std::lock_guard lock(g_open_mu);
      if (!g_open) g_open = new std::set<WavOutput*>;
      g_open->insert(this);
    }
    return PacedOutput::start(mixer, error);
  }

  // Process exit: make the file valid and stop writing to it.
  void finalize_for_exit() {
    // On Windows the output thread is gone by now, perhaps inside this lock:
    // then the file stays as its last periodic header left it.
    std::unique_lock lock(file_mu_, std::defer_lock);
    if (!lock_unless_abandoned(lock) || !file_) return;
    write_header();
    std::fclose(file_);
    file_ = nullptr;
  }

 protected:
  void consume(const float* x, size_t frames) override {
    for (size_t i = 0; i < frames * 2; ++i) {
      long v = std::lrint(x[i] * 32768.f);
      pcm_[i] = static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
    }
    std::lock_guard lock(file_mu_);
    if (!file_) return;
    // 16-bit little-endian samples: the machine's order on the targets we build for.
    size_t bytes = frames * 4;
    if (data_bytes_ + bytes > 0xFFFFFFF0u) return;  // a WAV file cannot hold more
    if (std::fwrite(pcm_.data(), 1, bytes, file_) == bytes) data_bytes_ += bytes;
    if (++blocks_ % 100 == 0) write_header();
  }

  void finish() override { close(); }

 private:
  void write_header() {
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
    put32(h + 4, 36 + data_bytes_);
    put32(h + 24, rate_);
    put32(h + 28, rate_ * 4);
    put16(h + 32, 4);
    put16(h + 34, 16);
    h[36] = 'd', h[37] = 'a', h[38] = 't', h[39] = 'a';
    put32(h + 40, data_bytes_);
    long at = std::ftell(file_);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, file_);
    if (at > 0) std::fseek(file_, at, SEEK_SET);
    std::fflush(file_);
  }

  void close() {
    {
      std::lock_guard lock(g_open_mu);
      if (g_open) g_open->erase(this);
    }
    std::lock_guard lock(file_mu_);
    if (!file_) return;
    write_header();
    std::fclose(file_);
    file_ = nullptr;
  }

  const std::string path_;
  const int rate_;
  std::vector<int16_t> pcm_;  // output thread
  long blocks_ = 0;           // output thread
  // guarded by file_mu_ (output thread, control thread, exit)
  std::mutex file_mu_;
  std::FILE* file_ = nullptr;
  uint32_t data_bytes_ = 0;
};

void finalize_all_at_exit() {
  std::unique_lock lock(g_open_mu, std::defer_lock);
  if (!lock_unless_abandoned(lock) || !g_open) return;
  for (WavOutput* w : *g_open) w->finalize_for_exit();
}

}  // namespace

std::unique_ptr<Output> make_wav_output(const std::string& arg, int rate) {
  if (arg.empty()) return nullptr;
  return std::make_unique<WavOutput>(arg, rate);
}

}  // namespace tovarin::audio
