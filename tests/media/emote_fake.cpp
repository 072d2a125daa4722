#include "tests/media/emote_fake.h"

#include <iterator>
#include <sstream>

EMOTE_FAKE g_EmoteFake;

namespace {

template <class... A>
uint32_t Record(int nOrdinal, const A&... args)
{
    std::ostringstream os;
    os << nOrdinal;
    ((os << ' ' << args), ...);
    g_EmoteFake.calls.push_back(os.str());
    return 0;
}
std::string Quoted(const char* psz) { return std::string("'") + (psz ? psz : "(null)") + "'"; }

uint32_t Fake2(const uintptr_t* p)
{
    Record(2, p[0], p[1], p[2]);
    return p[0] ? 0x4400 : 0;
}
uint32_t Fake110(uint32_t h, uint32_t z) { return Record(110, h, z); }
uint32_t Fake102(uint32_t h) { return Record(102, h); }
uint32_t Fake119(uint32_t h, const void* pData, uint32_t n, uint32_t* ph)
{
    if (g_EmoteFake.bRecordData)
        Record(119, h, std::string(static_cast<const char*>(pData), n), n);
    else
        Record(119, h, n);
    *ph = g_EmoteFake.hNextPlayer;
    if (g_EmoteFake.hNextPlayer) ++g_EmoteFake.hNextPlayer;
    return 0;
}
uint32_t Fake202(uint32_t h) { return Record(202, h); }
uint32_t Fake205(uint32_t h) { return Record(205, h); }
uint32_t Fake214(uint32_t h, float f) { return Record(214, h, f); }
uint32_t Fake216(uint32_t h, float f) { return Record(216, h, f); }
uint32_t Fake218(uint32_t h, float f) { return Record(218, h, f); }
uint32_t Fake220(uint32_t h, float x, float y, uint32_t a, uint32_t b) { return Record(220, h, x, y, a, b); }
uint32_t Fake222(uint32_t h, float f, uint32_t a, uint32_t b) { return Record(222, h, f, a, b); }
uint32_t Fake224(uint32_t h, float f, uint32_t a, uint32_t b) { return Record(224, h, f, a, b); }
uint32_t Fake233(uint32_t h, const char* psz, float v, float t, uint32_t z) { return Record(233, h, Quoted(psz), v, t, z); }
uint32_t Fake235(uint32_t h, float a, float b, float c, float d, float e) { return Record(235, h, a, b, c, d, e); }
uint32_t Fake236(uint32_t h) { return Record(236, h); }
uint32_t Fake253(uint32_t h) { return Record(253, h); }
uint32_t Fake245(uint32_t h, const char* psz, uint32_t f) { return Record(245, h, Quoted(psz), f); }
uint32_t Fake247(uint32_t h, const char* psz) { return Record(247, h, Quoted(psz)); }
uint32_t Fake246(uint32_t h, const char* psz)
{
    Record(246, h, Quoted(psz));
    return h == g_EmoteFake.hBusy246 ? 0x201 : 0x200;   // only the low byte counts
}
uint32_t Fake254(uint32_t h, float f) { return Record(254, h, f); }
uint32_t Fake255(uint32_t h)
{
    Record(255, h);
    return h == g_EmoteFake.hBusy255 ? 0x101 : 0x100;
}
uint32_t Fake256(uint32_t h) { return Record(256, h); }

void* Fn(auto pfn) { return reinterpret_cast<void*>(pfn); }

// 246 last, so the table without it is its first part.
const PLAT_MODULE_ENTRY kEntries[] = {
    {nullptr, 2, Fn(Fake2)},     {nullptr, 110, Fn(Fake110)}, {nullptr, 102, Fn(Fake102)},
    {nullptr, 119, Fn(Fake119)}, {nullptr, 202, Fn(Fake202)}, {nullptr, 205, Fn(Fake205)},
    {nullptr, 214, Fn(Fake214)}, {nullptr, 216, Fn(Fake216)}, {nullptr, 218, Fn(Fake218)},
    {nullptr, 220, Fn(Fake220)}, {nullptr, 222, Fn(Fake222)}, {nullptr, 224, Fn(Fake224)},
    {nullptr, 233, Fn(Fake233)}, {nullptr, 235, Fn(Fake235)}, {nullptr, 236, Fn(Fake236)},
    {nullptr, 253, Fn(Fake253)}, {nullptr, 245, Fn(Fake245)}, {nullptr, 247, Fn(Fake247)},
    {nullptr, 254, Fn(Fake254)}, {nullptr, 255, Fn(Fake255)}, {nullptr, 256, Fn(Fake256)},
    {nullptr, 246, Fn(Fake246)},
};

}  // namespace

void ResetEmoteFake(void) { g_EmoteFake = EMOTE_FAKE{}; }

int RegisterEmoteFake(bool bWith246)
{
    const int nCount = static_cast<int>(std::size(kEntries)) - (bWith246 ? 0 : 1);
    return PlatRegisterFakeModule("VEVuvoz.dll", kEntries, nCount);
}

void* EmoteFakeEntry(int nOrdinal)
{
    for (const PLAT_MODULE_ENTRY& e : kEntries)
        if (e.nOrdinal == nOrdinal) return e.pfn;
    return nullptr;
}

void RecordEmoteCall(const std::string& strCall) { g_EmoteFake.calls.push_back(strCall); }
