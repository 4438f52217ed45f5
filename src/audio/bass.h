// tovarin audio library: the operations the plug-in plays, measures, shapes
// and records sound with, under the names it calls them by.
//
// Handles. Every stream, effect and recording is a 32-bit handle made of a
// kind, a slot and a generation; 0 means failure. Handles are never reused
// while the process lives, so a handle that is 0, freed or stale (the library
// was freed since) makes every call fail, without harm. Failures come back as
// the documented failure value; BASS_ErrorGetCode() then tells why (per
// thread).
//
// Threads. Every call is safe from any thread, but the library is meant to be
// driven from one control thread. Sound is produced on the output's thread
// (the mixer) and captured on the capture thread; decoding and network I/O
// run on each stream's own thread into a ring buffer, so the mixer never
// waits on a disk, a decoder, a network or a lock held by a control call.
//
// Units. Byte positions and lengths count 16-bit samples (frames x channels x
// 2) at the stream's own rate, whatever the output's rate is.
//
// Output and capture devices are chosen by the environment:
//   TOVARIN_AUDIO_OUTPUT = auto (default) | null | wav:PATH
//   TOVARIN_AUDIO_INPUT  = auto (default) | null | wav:PATH
// auto tries the system's default device (SDL2) and falls back to a silent
// device paced in real time; wav: writes what is heard to a 16-bit WAV file
// (output) or reads the capture from one, then silence (input).
// https stations are verified against the PEM file TOVARIN_CA_FILE names,
// else against the system's certificate bundle.
#pragma once

#include <cstdint>

using BOOL = int32_t;
using DWORD = uint32_t;
using QWORD = uint64_t;
using HSTREAM = DWORD;
using HFX = DWORD;
using HRECORD = DWORD;

// Error codes (BASS_ErrorGetCode).
enum : int32_t {
  BASS_OK = 0,
  BASS_ERROR_MEM = 1,
  BASS_ERROR_FILEOPEN = 2,
  BASS_ERROR_DRIVER = 3,
  BASS_ERROR_HANDLE = 5,
  BASS_ERROR_FORMAT = 6,
  BASS_ERROR_POSITION = 7,
  BASS_ERROR_INIT = 8,
  BASS_ERROR_ALREADY = 14,
  BASS_ERROR_ILLTYPE = 19,
  BASS_ERROR_ILLPARAM = 20,
  BASS_ERROR_NO3D = 21,
  BASS_ERROR_DEVICE = 23,
  BASS_ERROR_NOPLAY = 24,
  BASS_ERROR_NOTAVAIL = 37,
  BASS_ERROR_DECODE = 38,
  BASS_ERROR_TIMEOUT = 40,
  BASS_ERROR_FILEFORM = 41,
  BASS_ERROR_ENDED = 45,
  BASS_ERROR_UNKNOWN = -1,
};

constexpr DWORD BASS_STREAM_AUTOFREE = 0x40000;
constexpr DWORD BASS_STREAM_DECODE = 0x200000;
constexpr DWORD BASS_POS_BYTE = 0;
constexpr DWORD BASS_FILEPOS_CURRENT = 0;
constexpr DWORD BASS_FILEPOS_DOWNLOAD = 1;
constexpr DWORD BASS_FILEPOS_END = 2;
constexpr DWORD BASS_FILEPOS_START = 3;
constexpr DWORD BASS_ATTRIB_VOL = 2;
constexpr DWORD BASS_ATTRIB_PAN = 3;
constexpr DWORD BASS_DATA_FFT1024 = 0x80000002;
constexpr DWORD BASS_DATA_FLOAT = 0x40000000;

// Channel states (BASS_ChannelIsActive).
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2;
constexpr DWORD BASS_ACTIVE_PAUSED = 3;

// Effect types.
constexpr DWORD BASS_FX_DX8_CHORUS = 0;
constexpr DWORD BASS_FX_DX8_COMPRESSOR = 1;
constexpr DWORD BASS_FX_DX8_DISTORTION = 2;
constexpr DWORD BASS_FX_DX8_ECHO = 3;
constexpr DWORD BASS_FX_DX8_FLANGER = 4;
constexpr DWORD BASS_FX_DX8_GARGLE = 5;
constexpr DWORD BASS_FX_DX8_I3DL2REVERB = 6;
constexpr DWORD BASS_FX_DX8_PARAMEQ = 7;
constexpr DWORD BASS_FX_DX8_REVERB = 8;

// Stream information: 8 fields, the first two are the rate and channel count.
struct BASS_CHANNELINFO {
  DWORD freq;            // sample rate, Hz
  DWORD chans;           // channels
  DWORD flags;           // creation flags
  DWORD ctype;           // kind of stream (BASS_CTYPE_*)
  DWORD origres;         // original resolution in bits, 0 when unknown
  DWORD plugin;          // always 0
  DWORD sample;          // always 0
  const char* filename;  // the path or URL the stream was made from
};
constexpr DWORD BASS_CTYPE_STREAM = 0x10000;
constexpr DWORD BASS_CTYPE_RECORD = 0x10001;  // a recording channel

// Effect parameter records (units and ranges in the effects' header).
struct BASS_DX8_CHORUS {
  float fWetDryMix, fDepth, fFeedback, fFrequency;
  DWORD lWaveform;
  float fDelay;
  DWORD lPhase;
};
using BASS_DX8_FLANGER = BASS_DX8_CHORUS;
struct BASS_DX8_COMPRESSOR {
  float fGain, fAttack, fRelease, fThreshold, fRatio, fPredelay;
};
struct BASS_DX8_ECHO {
  float fWetDryMix, fFeedback, fLeftDelay, fRightDelay;
  BOOL lPanDelay;
};
struct BASS_DX8_PARAMEQ {
  float fCenter, fBandwidth, fGain;
};
struct BASS_DX8_REVERB {
  float fInGain, fReverbMix, fReverbTime, fHighFreqRTRatio;
};

// Capture callback: runs on the capture thread with 16-bit interleaved
// samples; return non-zero to go on.
using RECORDPROC = BOOL(HRECORD handle, const void* buffer, DWORD length, void* user);
// Download callback of URL streams (accepted for signature's sake, unused).
using DOWNLOADPROC = void(const void* buffer, DWORD length, void* user);

// Errors of the calling thread's last call.
int32_t BASS_ErrorGetCode();

// Output device: device -1 is the default. Fails with BASS_ERROR_ALREADY when
// already initialised. win and clsid are accepted and ignored.
BOOL BASS_Init(int32_t device, DWORD freq, DWORD flags, DWORD win, const void* clsid);
// Stops and frees every stream, effect and recording; all handles go stale.
BOOL BASS_Free();
// Share of real time the mixer spends working, percent, smoothed.
float BASS_GetCPU();

// File streams: mem must be 0 (not from memory); file is a UTF-8 path; offset
// and length 0 for the whole file. Only regular local files open.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
// Internet streams (http:, https:). Blocks until the stream can start, bounded
// (5 s to connect, 5 s without data). flags may hold BASS_STREAM_AUTOFREE:
// the stream frees itself when it ends or is stopped. A live stream (no
// Content-Length) whose station drops, or sends nothing for 5 s, connects
// again by itself within the next 5 s, its position and title carrying on;
// it ends when the station stays gone or drops more than 3 times a minute.
HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc, void* user);
// Both creators also take BASS_STREAM_DECODE: a decoding stream is never
// played (ChannelPlay and ChannelPause fail with BASS_ERROR_DECODE); the
// caller pulls its samples, after its effects, with BASS_ChannelGetData as
// fast as it likes. Its position is the frames pulled so far; ChannelStop
// halts it (GetData then fails with BASS_ERROR_NOPLAY) until ChannelSetPosition.
BOOL BASS_StreamFree(HSTREAM handle);
// File positions in bytes of the source file; (QWORD)-1 on failure.
// BASS_FILEPOS_END: the file's size (for a URL stream the Content-Length, or
// the bytes received so far when the server sends none).
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);

// Transport. Play resumes a paused or stopped channel where it is (restart
// non-zero starts from 0); stop halts it and keeps its position.
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
BOOL BASS_ChannelPause(DWORD handle);
BOOL BASS_ChannelStop(DWORD handle);
DWORD BASS_ChannelIsActive(DWORD handle);

// Positions (mode BASS_POS_BYTE). The position is what is being heard: frames
// taken by the mixer minus the output's latency, never negative. Both return
// (QWORD)-1 on failure; the length also when it is unknown (live streams).
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
// Seeks sample-accurately (a position past the end fails).
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode);
// Conversions at the channel's rate and channel count; a negative value on
// failure (seconds), (QWORD)-1 (bytes).
double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos);

// Attributes: BASS_ATTRIB_VOL (0 = silent, 1 = as is, above 1 amplifies; not
// negative), BASS_ATTRIB_PAN (-1 full left .. +1 full right; outside values
// are clamped). Pan is a balance: the left side is scaled by min(1, 1 - pan)
// and the right by min(1, 1 + pan), so centre leaves both as they are and
// full left silences the right. Changes are ramped over 5 ms so that steps
// never click.
BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
BOOL BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value);

// Peak of the last 20 ms heard, per channel, 0..32768: left in the low word,
// right in the high word (a mono stream gives the same level twice). The
// level is the stream's own sound after its effects, before volume and pan.
// Like the position, levels and the FFT refer to the sound being heard: they
// look back past what the output still holds (the latency it reports).
// 0 when the channel is not playing; (DWORD)-1 on failure (bad handle).
DWORD BASS_ChannelGetLevel(DWORD handle);
BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);
// BASS_DATA_FFT1024: 512 floats, the magnitudes of a real FFT of the latest
// 1024 frames heard (channels mixed to mono, Hann window). Returns the bytes
// written (2048), or (DWORD)-1 on failure. Scaling (audio/dsp/fft.hpp): a
// sine of amplitude A (full scale 1) centred on a bin reads A in that bin.
// Any other length is a byte count of sample data, offered by decoding
// streams only (BASS_ERROR_NOTAVAIL otherwise): the next whole frames of the
// stream at its own rate and channel count, after its effects, as 16-bit
// samples (clipped like the wav: output) or, with BASS_DATA_FLOAT in the
// length, as floats. Returns the bytes written, fewer than asked only at the
// end (or when a live source stalls for a second); (DWORD)-1 with
// BASS_ERROR_ENDED once nothing is left. None of these allocates.
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);

// Effects, applied to a channel in priority order (higher first; equal
// priorities in the order attached). SetFX gives the new effect its defaults.
// SetParameters validates the whole record; a field out of range fails and
// keeps the old values.
HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int32_t priority);
BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx);
BOOL BASS_FXSetParameters(HFX fx, const void* params);
BOOL BASS_FXGetParameters(HFX fx, void* params);

// Capture. RecordInit(-1) opens the default capture device.
BOOL BASS_RecordInit(int32_t device);
BOOL BASS_RecordFree();
// The capture device's inputs, from 0; null after the last.
const char* BASS_RecordGetInputName(int32_t input);
// volume 0..1 applied in software to that input; flags 0.
BOOL BASS_RecordSetInput(int32_t input, DWORD flags, float volume);
// Starts capturing at rate and channels (16-bit interleaved buffers to proc on
// the capture thread). BASS_ChannelStop on the handle stops it: once that
// returns, proc is never called again.
HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user);
