// Helpers shared by the platform's own files; the engine does not include this header.
#pragma once
#include <spawn.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Direction of a conversion.
enum { PLAT_CONV_CP932_TO_UTF8 = 0, PLAT_CONV_UTF8_TO_CP932 = 1 };

// Converts n bytes exactly. 0, or -1 when a sequence cannot be converted (pOut then holds what came
// before it).
int PlatConvertStrict(int nDir, const char* pSrc, size_t n, std::string* pOut);

// The first executable file of the name in the folders of PATH (else /usr/bin:/bin), in their order,
// that accept also takes (when given); "" when there is none.
std::string PlatFindInPath(const char* pszName, const std::function<bool(const std::string&)>& accept = {});

// A native path (UTF-8, '/') as an engine path (cp932, '\'). 0, or -1 when some character has no
// cp932 form that converts back to the same text.
int PlatNativeToEnginePath(const std::string& strNative, std::string* pOut);

// 1 when no display can be used: neither DISPLAY nor WAYLAND_DISPLAY is set, or SDL_VIDEODRIVER
// names the dummy or offscreen driver.
int PlatIsHeadless(void);

// The executable's native path as found by PlatInitProgramPaths (or /proc/self/exe before that).
std::string PlatGetNativeExecutablePath(void);

// A display mode's bits per pixel as the engine counts them: 24-bit colour in 4-byte pixels is 32,
// and a format without a depth counts as 32.
int PlatCountModeBits(int nBitsPerPixel, int nBytesPerPixel);

// Folder aliases (platform/plat_alias.cpp). The engine path "\kx-folder-XXXXXXXX" standing for a
// real folder (absolute, UTF-8) that cp932 cannot express; the same folder always gets the same alias.
std::string PlatMakeFolderAlias(const std::string& strNative);
// A converted engine path (UTF-8, '/') that starts with an alias: the alias replaced by its real
// folder. 1 when replaced, else 0 (the path unchanged).
int PlatExpandAliasPath(std::string* pPath);
// A native path inside an aliased folder as the converted engine path ("/kx-folder-XXXXXXXX/rest",
// UTF-8). 0, or -1 when it lies in none.
int PlatAliasNativePath(const std::string& strNative, std::string* pEngineUtf8);

// Spawn attributes for a child program: it starts with an empty signal mask and default handling
// of the signals this process may ignore or catch. The caller destroys them.
void PlatInitChildSpawnAttr(posix_spawnattr_t* pAttr);

// Starts a program from a native argument vector (UTF-8; the program a path or a name searched in
// PATH) without a shell, without waiting; the caller collects it. Under the test hook the hook gets
// the arguments in cp932 and its result is returned (*pnPid 0). 0, or -1 when it could not start.
int PlatSpawnNativeArgs(const std::vector<std::string>& aNative, int* pnPid);
// A started program nobody waits for: collected on later starts so that no zombies pile up.
void PlatCollectLater(int nPid);
