// How the plug-in hears of the audio library's failures: one way for the
// player, the effects and the recorder.
//
// The library answers every call with a value and never throws; after a
// failed call its error code tells a fault inside the library (it ran out of
// memory, a thread would not start, it failed unexpectedly) from a refusal
// (a handle that is 0 or stale, a value out of range, a library that is not
// initialised, a file that does not open). An operation that names a message
// for its failures shows it for a fault; refusals are passed over, and the
// operation goes on.
//
// Host thread only; ask right after the call (the error code is the
// calling thread's, and the next call replaces it).
#pragma once

namespace tovarin {

// True when the call failed (ok false) with a fault.
bool LibraryFault(bool ok);

// Shows message when the call failed with a fault, and then answers false:
// the operation stops there. Answers true (go on) on success and on a
// refusal.
bool Report(bool ok, const char* message);

}  // namespace tovarin
