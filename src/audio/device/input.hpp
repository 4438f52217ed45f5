// Capture devices: where recordings come from.
//
// BASS_RecordInit opens one CaptureDevice, chosen by TOVARIN_AUDIO_INPUT:
// "auto" (SDL2's default capture device, else the silent input), "null"
// (silence, paced in real time), "wav:PATH" (the file's sound, then
// silence, paced in real time). Each BASS_RecordStart starts a Capture on
// it: 16-bit interleaved frames at the rate and channel count asked for go
// to the sink on the capture's own thread (SDL's captures follow the default
// device: when it is lost, silence comes in real time until a device opens
// again; the capture thread may then change, but the sink is never called
// on two threads at once). Capture::stop() returns only when the sink is
// running no more and will never be called again. A sink that returns false
// is not called again either.
//
// start() and stop() run on the control thread. Adding an input is one file
// with a factory plus one entry in the table of input.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tovarin::audio {

using CaptureSink = std::function<bool(const int16_t* frames, size_t count)>;

class Capture {
 public:
  virtual ~Capture() = default;
  virtual void stop() = 0;
};

class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;
  // Names of the device's inputs, at least one.
  virtual std::vector<std::string> input_names() const = 0;
  virtual std::unique_ptr<Capture> start(int rate, int channels, CaptureSink sink, std::string* error) = 0;
};

// Opens the device named by choice ("auto", "null", "wav:PATH"); null with a
// message when it cannot.
std::unique_ptr<CaptureDevice> open_capture_device(const std::string& choice, std::string* error);

// Factories, one per input file; null when the device cannot be opened.
std::unique_ptr<CaptureDevice> make_null_input(const std::string& arg, std::string* error);
std::unique_ptr<CaptureDevice> make_wav_input(const std::string& arg, std::string* error);
std::unique_ptr<CaptureDevice> make_sdl_input(const std::string& arg, std::string* error);

// A capture thread that delivers 10 ms blocks in real time from fill(),
// sleeping between blocks (shared by the inputs without a device clock).
class PacedCapture : public Capture {
 public:
  PacedCapture(int rate, int channels, CaptureSink sink);
  ~PacedCapture() override;
  void begin();  // starts the thread
  void stop() override;

 protected:
  // Capture thread: the next `frames` frames.
  virtual void fill(int16_t* out, size_t frames) = 0;
  const int rate_;
  const int channels_;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovarin::audio
