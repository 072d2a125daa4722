// The platform's trace sink and the ALSA library's error handler.
#include "platform/plat_trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>

static std::atomic<PLAT_TRACE_SINK> g_pfnTraceSink{nullptr};

void PlatSetTraceSink(PLAT_TRACE_SINK pfnSink)
{
    g_pfnTraceSink.store(pfnSink);
}

void PlatTrace(const char* pszCaption, const char* pszText)
{
    if (PLAT_TRACE_SINK pfn = g_pfnTraceSink.load()) pfn(pszCaption, pszText);
}

// The form of snd_lib_error_handler_t (alsa/error.h), which is not included so that the build does
// not need the library's headers: the library is found at run time, as SDL finds it.
typedef void (*ALSA_ERROR_HANDLER)(const char* pszFile, int nLine, const char* pszFunction, int nErr,
                                   const char* pszFormat, ...);
typedef int (*ALSA_SET_ERROR_HANDLER)(ALSA_ERROR_HANDLER pfnHandler);

// The library's line as it would have printed it ("ALSA lib file:line:(function) text"), to the trace.
static void TraceAlsaError(const char* pszFile, int nLine, const char* pszFunction, int /*nErr*/,
                           const char* pszFormat, ...)
{
    char szText[512];
    va_list ap;
    va_start(ap, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat ? pszFormat : "", ap);
    va_end(ap);
    char szLine[768];
    std::snprintf(szLine, sizeof szLine, "%s:%d:(%s) %s", pszFile ? pszFile : "?", nLine,
                  pszFunction ? pszFunction : "?", szText);
    PlatTrace("ALSA lib", szLine);
}

void PlatQuietSoundLibrary(void)
{
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        // Kept loaded for the whole run: SDL opens the same library later, and the handler stays
        // installed in it.
        void* pLib = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
        if (!pLib) return;
        auto pfnSet = reinterpret_cast<ALSA_SET_ERROR_HANDLER>(dlsym(pLib, "snd_lib_error_set_handler"));
        if (pfnSet) pfnSet(TraceAlsaError);
    });
}
