// The engine's debug trace as seen from the platform: lines that say what a library did without
// troubling the person at the terminal (the sound library's complaints about a missing card).
#pragma once

// Receives a caption and a text, both UTF-8.
typedef void (*PLAT_TRACE_SINK)(const char* pszCaption, const char* pszText);
// The engine installs its trace writer; until then (and with NULL) lines are dropped.
void PlatSetTraceSink(PLAT_TRACE_SINK pfnSink);
void PlatTrace(const char* pszCaption, const char* pszText);

// Sends the error lines that the ALSA library writes to standard error by itself (eight lines on a
// machine without a sound card, before the engine's own one) to the trace instead. Called before
// the sound output opens; nothing when the library is not installed. Once per process.
void PlatQuietSoundLibrary(void);
