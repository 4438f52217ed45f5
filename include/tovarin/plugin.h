/*
 * tovarin plug-in (Plugin.so): the 56 exports, for host authors.
 *
 * A host loads Plugin.so (dlopen), resolves these names (dlsym), and calls
 * them all from one thread: first SetParentWindow with a window of the
 * tovarin window system (include/tovarin/ui.h), then Bass_Init, then pushes
 * arguments with SetFile/SetData and calls the operation exports, which take
 * no arguments. A query leaves its answer as text that GetFile returns.
 * The host's thread must pump the window system (tovui_pump or tovui_event_fd)
 * so that fades, the spectrum display and message boxes work.
 *
 * Strings are zero-terminated bytes; the plug-in copies what it is given and
 * returns pointers into its own storage, valid until the next export that
 * replaces them or until the library is unloaded.
 */
#ifndef TOVARIN_PLUGIN_H
#define TOVARIN_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Plug-in description, queues and window. */
const char* Copyright(void);
void GetShortInfo(void);
const char* GetInfo(void); /* "Tovarin 1.0 betta" */
int32_t GetType(void);     /* 0 */
void SetPath(const char* path);
void SetParentWindow(uint32_t window);
void Draw(int32_t ignored, int32_t left, int32_t top, int32_t width, int32_t height);
void SetFile(const char* text); /* push a string (null pushes "0") */
const char* GetFile(void);      /* the last query's answer, never null */
void SetData(int32_t value);    /* push an integer */
int32_t GetData(void);          /* always 0 */

/* Player: slots and transport. */
void Bass_Init(void);
int32_t Bass_ChannelNum(void); /* slot := DataArgs[0] */
uint8_t Bass_Create(void);     /* open FileArgs[0] into the slot: 1 or 0 */
void Bass_Free(void);
void Bass_Play(void);
void Bass_Pause(void);
void Bass_Stop(void);

/* Queries: the answer is in GetFile. */
void Bass_GetPosition(void);
void Bass_Sec2Format(void);
void Bass_SetPosition(void);
void Bass_GetLength(void);
void Bass_SetVolume(void);
void Bass_SetPan(void);
void Bass_GetRLevel(void);
void Bass_GetLLevel(void);
void Bass_GetFreq(void);
void Bass_GetBit(void);
void Bass_GetChannels(void);
void Bass_GetTags(void);
void Bass_GetCPU(void);

/* Equalizer and effects. */
void Bass_CreateEQ(void);
void Bass_EqSet(void);
void Bass_EqRemove(void);
void Bass_CreateFlanger(void);
void Bass_SetFlanger(void);
void Bass_FlangerRemove(void);
void Bass_CreateReverb(void);
void Bass_SetReverb(void);
void Bass_ReverbRemove(void);
void Bass_CreateEcho(void);
void Bass_SetEcho(void);
void Bass_EchoRemove(void);
void Bass_CreateChorus(void);
void Bass_SetChorus(void);
void Bass_ChorusRemove(void);
void Bass_CreateCompressor(void);
void Bass_SetCompressor(void);
void Bass_CompressorRemove(void);

/* Spectrum display. */
void StartDraw(void);
void StopDraw(void);

/* Recorder. */
int32_t Record_Init(void);
void Record_GetDevices(void);
void Record_SetDevice(void);
void Record_Start(void);
void Record_Stop(void);

#ifdef __cplusplus
}
#endif

#endif
