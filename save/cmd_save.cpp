// The save command, pending records, memory slots and the writing of save files.
#include "save/cmd_save.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "image/cmd_layer.h"
#include "image/layer.h"
#include "platform/plat_file.h"
#include "platform/plat_text.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "script/dispatch.h"

uint8_t* g_apPendingRecord[KX_SAVE_DNO_COUNT];
uint32_t g_anPendingSize[KX_SAVE_DNO_COUNT];
uint32_t g_anPendingCapacity[KX_SAVE_DNO_COUNT];
uint8_t* g_pSaveScratch;
uint32_t g_nSaveScratchSize;

uint8_t* g_apMemSlot[KX_SAVE_SLOT_TABLE];
uint32_t g_anMemSlotCapacity[KX_SAVE_SLOT_TABLE];
uint32_t g_anMemSlotSize[KX_SAVE_SLOT_TABLE];
uint32_t g_anMemSlotReadPos[KX_SAVE_SLOT_TABLE];

int (*g_pfnWriteSaveFile)(const char* pszPath, const void* pData, size_t n) = PlatWriteFileAtomic;

namespace {

// The largest buffer a pending record, a slot or the scratch buffer may take: sizes are 32-bit in
// the file format.
constexpr uint64_t kMaxBuffer = 0xFFFFFFFFull;
// The layer to save is missing (command name, layer path).
constexpr int kErrLayerMissing = 101250;

const char* SaveCmdName(void) { return GetScriptCommandName(CMDID_SAVE); }

void ShowNoMemory(void) { ShowMessageBox("", GetEngineText(TXT_SAVE_NO_MEMORY)); }
void ShowCompressError(void) { ShowMessageBox("", GetEngineText(TXT_SAVE_COMPRESS_ERROR)); }

// Grows a buffer to at least n bytes (contents kept). 0, or -1 with the buffer as it was.
int GrowBuffer(uint8_t** pp, uint32_t* pnCap, uint64_t n)
{
    if (n <= *pnCap) return 0;
    if (n > kMaxBuffer) return -1;
    void* p = std::realloc(*pp, static_cast<size_t>(n));
    if (!p) return -1;
    *pp = static_cast<uint8_t*>(p);
    *pnCap = static_cast<uint32_t>(n);
    return 0;
}

// The scratch buffer for a body of nRaw bytes: at least 1 MB, a layer its raw size, a variable
// twice its raw size. 0, or -1 after the box.
int GrowScratch(uint64_t nRaw, int bLayer)
{
    if (nRaw <= g_nSaveScratchSize) return 0;
    uint64_t n = bLayer ? nRaw : nRaw * 2;
    if (n > kMaxBuffer) n = nRaw;
    if (n < KX_SAVE_SCRATCH_MIN) n = KX_SAVE_SCRATCH_MIN;
    // Nothing of the old body is needed: a fresh buffer saves the copy.
    uint8_t* p = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n)));
    if (!p) {
        ShowNoMemory();
        return -1;
    }
    std::free(g_pSaveScratch);
    g_pSaveScratch = p;
    g_nSaveScratchSize = static_cast<uint32_t>(n);
    return 0;
}

// The system's message text for an error number (cp932). The game's own table of error texts is
// numbered for another run-time library (the numbers above 34 name other errors here), so the
// system's own text is the one that matches the number.
std::string ErrnoText(int nErr)
{
    const char* psz = std::strerror(nErr);
    return PlatUtf8ToCp932String(psz ? psz : "");
}

void ReportWriteFailure(const std::string& strPath, int nErr)
{
    if (nErr == 0) nErr = EIO;
    ReportScriptErrorF(KX_ERR_SAVE_CREATE, 1, SaveCmdName(), strPath, nErr, ErrnoText(nErr).c_str());
}

// A failure of the format layer while a record is built.
void ReportBuildFailure(int nResult)
{
    if (nResult == KX_SAVE_ERR_CODEC)
        ShowCompressError();
    else if (nResult == KX_SAVE_ERR_VALUE_SIZE)
        ReportScriptError(KX_ERR_SAVE_VALUE_SIZE, 1);
    else
        ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
}

// 1 when the text holds a '\' outside double-byte characters.
bool HasBackslash(const char* psz)
{
    for (const char* p = psz; *p; p = NextCharCp932(p))
        if (*p == '\\') return true;
    return false;
}

// The folder part of an engine path (up to and including the last separator), or "".
std::string FolderOf(const std::string& strPath)
{
    const char* psz = strPath.c_str();
    return std::string(psz, FindFileNamePart(psz));
}

// Appends u32 DNO and the pending bytes of every pending DNO in [1, nLastDno] to an image in
// ascending order, entering their offsets; skips DNOs marked in abSkip. Returns the count added.
uint32_t AppendPendingRecords(std::vector<uint8_t>& image, SAVE_FILE_HEADER& hdr, int nLastDno,
                              const std::vector<uint8_t>& abSkip)
{
    uint32_t nAdded = 0;
    for (int d = 1; d <= nLastDno; ++d) {
        const int i = d - 1;
        if (g_anPendingSize[i] == 0 || abSkip[i]) continue;
        hdr.anOffset[i] = static_cast<uint32_t>(image.size());
        uint8_t ab[4];
        PutSaveU32(ab, static_cast<uint32_t>(d));
        image.insert(image.end(), ab, ab + 4);
        image.insert(image.end(), g_apPendingRecord[i], g_apPendingRecord[i] + g_anPendingSize[i]);
        ++nAdded;
    }
    return nAdded;
}

// The size of a file image with every pending record appended; false when it would not fit the
// format's 32-bit offsets.
bool FitsOffsets(uint64_t nBase)
{
    uint64_t n = nBase;
    for (int i = 0; i < KX_SAVE_DNO_COUNT; ++i)
        if (g_anPendingSize[i]) n += 4 + uint64_t(g_anPendingSize[i]);
    return n <= kMaxBuffer;
}

// Builds the new image of an existing save file: the pending records replace the stored records
// of their DNOs in place and the others are appended; or, when none of them is stored yet, all are
// appended behind the old bytes. Nothing is written here. 0, or -1 after a report.
int BuildUpdatedImage(const std::vector<uint8_t>& old, std::vector<uint8_t>& image)
{
    SAVE_FILE_HEADER hdr;
    const int r = ParseSaveFileHeader(old.data(), old.size(), &hdr);
    if (r == KX_SAVE_ERR_VERSION) {
        ReportScriptError(KX_ERR_SAVE_VERSION, 1);
        return -1;
    }
    if (r != KX_SAVE_OK) {   // a wrong magic, or a header cut short
        ReportScriptError(KX_ERR_SAVE_MAGIC, 1);
        return -1;
    }
    if (!FitsOffsets(old.size())) {
        ShowNoMemory();
        return -1;
    }
    bool bRewrite = false;
    for (int i = 0; i < KX_SAVE_DNO_COUNT; ++i)
        if (g_anPendingSize[i] && hdr.anOffset[i]) bRewrite = true;

    std::vector<uint8_t> abPlaced(KX_SAVE_DNO_COUNT, 0);
    if (!bRewrite) {
        image = old;
        hdr.nCount += AppendPendingRecords(image, hdr, KX_SAVE_DNO_COUNT, abPlaced);
    } else {
        // Every stored record is walked and checked before anything is written; the pending
        // record of a stored DNO takes the place of the first record of that DNO, and a later
        // stale record of the same DNO is left out, so the table names the new one.
        image.assign(old.begin(), old.begin() + KX_SAVE_HEADER_SIZE);
        SAVE_FILE_HEADER hdrNew = hdr;
        std::memset(hdrNew.anOffset, 0, sizeof hdrNew.anOffset);
        size_t nPos = KX_SAVE_HEADER_SIZE;
        while (nPos < old.size()) {
            uint32_t nDno = 0;
            SAVE_RECORD_HEADER rec;
            size_t nBytes = 0;
            const int rr = ReadSaveRecordAt(old.data(), old.size(), nPos, &nDno, &rec, &nBytes);
            if (rr == KX_SAVE_ERR_BAD_DNO || (rr == KX_SAVE_OK && (nDno < 1 || nDno > KX_SAVE_MAX_DNO))) {
                const uint32_t nStored = nPos + 4 <= old.size() ? GetSaveU32(old.data() + nPos) : 0;
                ShowMessageBox("", GetEngineText(TXT_SAVE_BAD_DNO), static_cast<int64_t>(nStored));
                return -1;
            }
            if (rr != KX_SAVE_OK || nBytes < KX_SAVE_RECORD_PREFIX || nBytes > old.size() - nPos) {
                ReportScriptError(KX_ERR_SAVE_MAGIC, 1);
                return -1;
            }
            const int i = static_cast<int>(nDno) - 1;
            if (g_anPendingSize[i]) {
                if (!abPlaced[i]) {
                    hdrNew.anOffset[i] = static_cast<uint32_t>(image.size());
                    image.insert(image.end(), old.begin() + nPos, old.begin() + nPos + 4);
                    image.insert(image.end(), g_apPendingRecord[i], g_apPendingRecord[i] + g_anPendingSize[i]);
                    abPlaced[i] = 1;
                }
            } else {
                hdrNew.anOffset[i] = static_cast<uint32_t>(image.size());
                image.insert(image.end(), old.begin() + nPos, old.begin() + nPos + nBytes);
            }
            nPos += nBytes;
        }
        if (image.size() > kMaxBuffer) {
            ShowNoMemory();
            return -1;
        }
        hdr = hdrNew;
        hdr.nCount += AppendPendingRecords(image, hdr, KX_SAVE_DNO_COUNT, abPlaced);
    }
    hdr.nTableSize = KX_SAVE_TABLE_ENTRIES;
    WriteSaveFileHeader(&hdr, image.data());
    return 0;
}

// Writes every pending record into the save file at the path. 0, or -1 after a report with the
// pending records kept.
int FlushToFile(const std::string& strPath)
{
    PLAT_FILE_STAT st{};
    std::vector<uint8_t> image;
    if (PlatFileStat(strPath.c_str(), &st) == 0 && st.bExists && !st.bIsDir) {
        std::vector<uint8_t> old;
        errno = 0;
        if (PlatReadFile(strPath.c_str(), &old) != 0) {
            ReportWriteFailure(strPath, errno);
            return -1;
        }
        if (BuildUpdatedImage(old, image) != 0) return -1;
    } else {
        if (!FitsOffsets(KX_SAVE_HEADER_SIZE)) {
            ShowNoMemory();
            return -1;
        }
        SAVE_FILE_HEADER hdr;
        InitSaveFileHeader(&hdr);
        image.assign(KX_SAVE_HEADER_SIZE, 0);
        const std::vector<uint8_t> abNone(KX_SAVE_DNO_COUNT, 0);
        hdr.nCount = AppendPendingRecords(image, hdr, KX_SAVE_DNO_COUNT, abNone);
        WriteSaveFileHeader(&hdr, image.data());
    }
    // The folder the file goes into, every missing level of it (its failure shows in the write).
    CreateSaveFolder(FolderOf(strPath).c_str());
    errno = 0;
    if (g_pfnWriteSaveFile(strPath.c_str(), image.data(), image.size()) != 0) {
        ReportWriteFailure(strPath, errno);
        return -1;
    }
    return 0;
}

// Writes the pending records of DNOs 1..1023 into a memory slot as one save-file image (DNO 1024
// holds the slot blob and never goes into a slot). 0, or -1 after the box.
int FlushToSlot(int nSlot)
{
    uint64_t nNeed = KX_SAVE_HEADER_SIZE;
    for (int i = 0; i < KX_SAVE_DNO_COUNT - 1; ++i)
        if (g_anPendingSize[i]) nNeed += uint64_t(g_anPendingSize[i]) + 4;
    if (nNeed < KX_SAVE_MIN_SLOT_CAPACITY) nNeed = KX_SAVE_MIN_SLOT_CAPACITY;
    if (GrowBuffer(&g_apMemSlot[nSlot], &g_anMemSlotCapacity[nSlot], nNeed) != 0) {
        ShowNoMemory();
        return -1;
    }
    SAVE_FILE_HEADER hdr;
    InitSaveFileHeader(&hdr);
    SetSlotWritePos(nSlot, KX_SAVE_HEADER_SIZE);
    for (int d = 1; d < KX_SAVE_MAX_DNO; ++d) {
        const int i = d - 1;
        if (!g_anPendingSize[i]) continue;
        hdr.anOffset[i] = GetSlotWritePos(nSlot);
        WriteSlotU32(nSlot, static_cast<uint32_t>(d));
        WriteSlotBytes(nSlot, g_apPendingRecord[i], g_anPendingSize[i]);
        ++hdr.nCount;
    }
    WriteSaveFileHeader(&hdr, g_apMemSlot[nSlot]);
    g_anMemSlotReadPos[nSlot] = 0;
    return 0;
}

// The record of DNO index nIndex from the layer or the variable designation. 0, or -1 after a
// report (the pending record is then dropped).
int BuildSingleRecord(int nIndex, const LAYER* pLayer, int nVar, int64_t llElem, int bWhole)
{
    const int bLayer = pLayer != nullptr;
    const int64_t llSize = GetSaveRecordSize(bLayer, nVar, llElem, bWhole, pLayer);
    if (llSize < 0) return -1;
    if (AppendSaveRecord(nIndex, bLayer, nVar, llElem, bWhole, pLayer, llSize) < 0) {
        FreePendingRecords(nIndex);
        return -1;
    }
    return 0;
}

// A container of every user variable of the class and type, whole, in ascending number. 0, or -1
// after a report (the pending record is then dropped).
int BuildContainerRecord(int nIndex, int nClass, int nType)
{
    if (GrowPendingRecord(nIndex, KX_SAVE_RECORD_HEADER_SIZE) != 0) {
        ShowNoMemory();
        return -1;
    }
    BeginSaveContainer(g_apPendingRecord[nIndex], g_anPendingCapacity[nIndex]);
    g_anPendingSize[nIndex] = KX_SAVE_RECORD_HEADER_SIZE;
    for (int n = KX_FIRST_USER_VAR; n < g_nVarDesc; ++n) {
        const VAR_DESC* pVar = GetVarDesc(n);
        if (!pVar || pVar->bClass != nClass || pVar->bType != nType) continue;
        const int64_t llSize = GetSaveRecordSize(0, n, 0, 1, nullptr);
        if (llSize < 0 || AppendSaveRecord(nIndex, 0, n, 0, 1, nullptr, llSize) < 0) {
            FreePendingRecords(nIndex);
            return -1;
        }
    }
    const int r = EndSaveContainer(g_apPendingRecord[nIndex], g_anPendingSize[nIndex] - KX_SAVE_RECORD_HEADER_SIZE);
    if (r != KX_SAVE_OK) {
        ReportBuildFailure(r);
        FreePendingRecords(nIndex);
        return -1;
    }
    return 0;
}

}  // namespace

// ---- pending records ----

int GrowPendingRecord(int nIndex, uint64_t nCapacity)
{
    if (nIndex < 0 || nIndex >= KX_SAVE_DNO_COUNT) return -1;
    return GrowBuffer(&g_apPendingRecord[nIndex], &g_anPendingCapacity[nIndex], nCapacity);
}

namespace {
int AppendPendingBytes(int nIndex, const uint8_t* p, uint32_t n)
{
    if (nIndex < 0 || nIndex >= KX_SAVE_DNO_COUNT) return -1;
    if (uint64_t(g_anPendingSize[nIndex]) + n > g_anPendingCapacity[nIndex]) return -1;
    std::memcpy(g_apPendingRecord[nIndex] + g_anPendingSize[nIndex], p, n);
    g_anPendingSize[nIndex] += n;
    return 0;
}
}  // namespace

int AppendPendingU8(int nIndex, uint8_t b) { return AppendPendingBytes(nIndex, &b, 1); }
int AppendPendingU16(int nIndex, uint16_t w)
{
    uint8_t ab[2];
    PutSaveU16(ab, w);
    return AppendPendingBytes(nIndex, ab, 2);
}
int AppendPendingU32(int nIndex, uint32_t dw)
{
    uint8_t ab[4];
    PutSaveU32(ab, dw);
    return AppendPendingBytes(nIndex, ab, 4);
}
int PatchPendingU32(int nIndex, uint32_t nPos, uint32_t dw)
{
    if (nIndex < 0 || nIndex >= KX_SAVE_DNO_COUNT || uint64_t(nPos) + 4 > g_anPendingSize[nIndex]) return -1;
    PutSaveU32(g_apPendingRecord[nIndex] + nPos, dw);
    return 0;
}
uint32_t GetPendingSize(int nIndex)
{
    return (nIndex >= 0 && nIndex < KX_SAVE_DNO_COUNT) ? g_anPendingSize[nIndex] : 0;
}

void FreePendingRecords(int nIndex)
{
    const int nFirst = nIndex < 0 ? 0 : nIndex;
    const int nLast = nIndex < 0 ? KX_SAVE_DNO_COUNT - 1 : nIndex;
    if (nFirst >= KX_SAVE_DNO_COUNT) return;
    for (int i = nFirst; i <= nLast; ++i) {
        std::free(g_apPendingRecord[i]);
        g_apPendingRecord[i] = nullptr;
        g_anPendingSize[i] = 0;
        g_anPendingCapacity[i] = 0;
    }
}

void FreeAllSaveBuffers(void)
{
    FreePendingRecords(-1);
    std::free(g_pSaveScratch);
    g_pSaveScratch = nullptr;
    g_nSaveScratchSize = 0;
    ClearMemorySaveSlots();
}

// ---- slots ----

int WriteSlotBytes(int nSlot, const void* p, uint32_t n)
{
    if (nSlot < 0 || nSlot >= KX_SAVE_SLOT_TABLE) return -1;
    if (uint64_t(g_anMemSlotSize[nSlot]) + n > g_anMemSlotCapacity[nSlot]) return -1;
    if (n) std::memcpy(g_apMemSlot[nSlot] + g_anMemSlotSize[nSlot], p, n);
    g_anMemSlotSize[nSlot] += n;
    return 0;
}
int WriteSlotU32(int nSlot, uint32_t dw)
{
    uint8_t ab[4];
    PutSaveU32(ab, dw);
    return WriteSlotBytes(nSlot, ab, 4);
}
uint32_t GetSlotWritePos(int nSlot)
{
    return (nSlot >= 0 && nSlot < KX_SAVE_SLOT_TABLE) ? g_anMemSlotSize[nSlot] : 0;
}
void SetSlotWritePos(int nSlot, uint32_t nPos)
{
    if (nSlot < 0 || nSlot >= KX_SAVE_SLOT_TABLE) return;
    g_anMemSlotSize[nSlot] = nPos <= g_anMemSlotCapacity[nSlot] ? nPos : g_anMemSlotCapacity[nSlot];
}

void ClearMemorySaveSlots(void)
{
    for (int i = 0; i < KX_SAVE_SLOT_TABLE; ++i) {
        std::free(g_apMemSlot[i]);
        g_apMemSlot[i] = nullptr;
        g_anMemSlotCapacity[i] = 0;
        g_anMemSlotSize[i] = 0;
        g_anMemSlotReadPos[i] = 0;
    }
}

int PackMemorySlots(void)
{
    const int nIndex = KX_SAVE_SLOT_BLOB_DNO - 1;
    FreePendingRecords(nIndex);
    const uint64_t nBound = GetSlotBlobBound(g_anMemSlotSize);
    if (GrowPendingRecord(nIndex, nBound) != 0) {
        ShowNoMemory();
        return -1;
    }
    size_t nOut = 0;
    const int r = BuildSlotBlob(const_cast<const uint8_t* const*>(g_apMemSlot), g_anMemSlotSize,
                                g_apPendingRecord[nIndex], g_anPendingCapacity[nIndex], &nOut);
    if (r != KX_SAVE_OK) {
        // A half-packed blob must never reach a file.
        FreePendingRecords(nIndex);
        ReportBuildFailure(r);
        return -1;
    }
    g_anPendingSize[nIndex] = static_cast<uint32_t>(nOut);
    return 0;
}

// ---- records ----

uint64_t GetVarCompressBound(uint64_t n)
{
    return n > kMaxBuffer ? kMaxBuffer : GetSaveCompressBound(SAVEREC_VARIABLE, static_cast<uint32_t>(n));
}
uint64_t GetLayerCompressBound(uint64_t n) { return n * 12 / 10; }

int64_t GetSaveRecordSize(int bLayer, int nVar, int64_t llElem, int bWhole, const LAYER* pLayer)
{
    uint32_t nSize = 0;
    const int r = bLayer ? GetLayerBodySize(pLayer, &nSize) : GetVarBodySize(nVar, bWhole, llElem, &nSize);
    if (r != KX_SAVE_OK) {
        ReportBuildFailure(r);
        return -1;
    }
    return int64_t(nSize) + KX_SAVE_RECORD_HEADER_SIZE;
}

int64_t AppendSaveRecord(int nIndex, int bLayer, int nVar, int64_t llElem, int bWhole, const LAYER* pLayer,
                         int64_t llRecordSize)
{
    if (nIndex < 0 || nIndex >= KX_SAVE_DNO_COUNT || llRecordSize < KX_SAVE_RECORD_HEADER_SIZE ||
        uint64_t(llRecordSize) - KX_SAVE_RECORD_HEADER_SIZE > kMaxBuffer) {
        ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
        return -1;
    }
    const uint32_t nRaw = static_cast<uint32_t>(llRecordSize - KX_SAVE_RECORD_HEADER_SIZE);
    if (GrowScratch(nRaw, bLayer) != 0) return -1;
    size_t nWritten = 0;
    int r = bLayer ? SerializeLayerBody(pLayer, g_pSaveScratch, g_nSaveScratchSize, &nWritten)
                   : SerializeVarBody(nVar, bWhole, llElem, g_pSaveScratch, g_nSaveScratchSize, &nWritten);
    if (r == KX_SAVE_OK && nWritten != nRaw) r = KX_SAVE_ERR_ARG;
    if (r != KX_SAVE_OK) {
        ReportBuildFailure(r);
        return -1;
    }
    // Room for the header and the bound of exactly the codec the body goes through, behind what the
    // record holds already (a container grows by one sub-record at a time).
    const int nKind = bLayer ? SAVEREC_LAYER : SAVEREC_VARIABLE;
    const uint32_t nStart = g_anPendingSize[nIndex];
    const uint64_t nNeed = uint64_t(nStart) + KX_SAVE_RECORD_HEADER_SIZE + GetSaveCompressBound(nKind, nRaw);
    if (GrowPendingRecord(nIndex, nNeed) != 0) {
        ShowNoMemory();
        return -1;
    }
    size_t nOut = 0;
    const uint16_t wVar = bLayer ? 0 : static_cast<uint16_t>(nVar);
    r = BuildSaveRecord(nKind, wVar, g_pSaveScratch, nRaw, g_apPendingRecord[nIndex] + nStart,
                        g_anPendingCapacity[nIndex] - nStart, &nOut);
    if (r != KX_SAVE_OK) {
        ReportBuildFailure(r);
        return -1;
    }
    g_anPendingSize[nIndex] = nStart + static_cast<uint32_t>(nOut);
    return static_cast<int64_t>(nOut);
}

// ---- folders and names ----

int CreateSaveFolder(const char* pszFolder)
{
    if (!pszFolder) return -1;
    std::string s = pszFolder;
    while (!s.empty() && (s.back() == '\\' || s.back() == '/')) {
        // A trail byte of 0x5C belongs to the character before it, not a separator.
        if (CutAtCharBoundary(s.c_str(), s.size(), s.size() - 1) != s.size() - 1) break;
        s.pop_back();
    }
    if (s.empty()) return 0;   // the current folder, or the root
    return PlatMakeDirs(s.c_str()) == 0 ? 0 : -1;
}

void ReplaceCharDBCS(char* psz, char a, char b)
{
    if (!psz) return;
    for (char* p = psz; *p; p = const_cast<char*>(NextCharCp932(p)))
        if (*p == a) *p = b;
}

// ---- commands ----

int CmdSave(void)
{
    if (FetchCommandArgs(CMDID_SAVE) != 0) return -1;
    const char* pszCmd = SaveCmdName();

    // The layer that is the record's source.
    const LAYER* pLayer = nullptr;
    if (HasArg(SAVE_ARG_LAYER)) {
        std::string s = ArgText(SAVE_ARG_LAYER);
        if (HasArg(SAVE_ARG_LAYER_NUMBER)) s += "." + std::to_string(ArgInt(SAVE_ARG_LAYER_NUMBER));
        char szPath[KX_MAX_OBJECT_PATH];
        const int bGroup = NormalizeObjectPath(szPath, s.c_str(), g_pszLayerPath, 0);
        if (bGroup < 0) return -1;
        pLayer = GetNodeLayer(FindLayerNode(szPath, bGroup));
        if (!pLayer) {
            ReportScriptErrorF(kErrLayerMissing, 1, pszCmd, szPath);
            return -1;
        }
    }

    // The variable that is the record's source: the whole variable, or one element.
    const int bVar = HasArg(SAVE_ARG_VAR);
    const int sVar = ArgSlot(SAVE_ARG_VAR);
    const int nVar = bVar ? g_anArgVar[sVar] : 0;
    const int64_t llElem = bVar ? g_anArgElem[sVar] : 0;
    const int bWhole = bVar ? g_abArgRefTaken[sVar] : 0;

    // The file.
    std::string strPath;
    const int bFile = HasArg(SAVE_ARG_FILE);
    if (bFile) {
        std::string strName = ArgText(SAVE_ARG_FILE);
        LowerCaseASCII(strName.data());
        ReplaceCharDBCS(strName.data(), '/', '\\');
        if (strName.size() > KX_SAVE_NAME_MAX) {
            ReportScriptErrorF(KX_ERR_SAVE_NAME_LONG, 1, pszCmd, strName);
            return -1;
        }
        if (HasBackslash(strName.c_str())) {
            ReportScriptErrorF(KX_ERR_SAVE_NAME_SLASH, 1, pszCmd, strName);
            return -1;
        }
        if (strName.size() < 3 || strName.compare(strName.size() - 3, 3, ".sd") != 0) strName += ".sd";
        strPath = std::string(g_szSaveFolder) + strName;
    }

    // The slot: 99999 packs every slot into DNO 1024 and does nothing else.
    const int bSlot = HasArg(SAVE_ARG_SLOT);
    int nSlot = -1;
    if (bSlot) {
        const int64_t ll = ArgInt(SAVE_ARG_SLOT);
        if (ll == KX_SAVE_SLOT_ALL) return PackMemorySlots();
        if (ll < 0 || ll >= KX_SAVE_SLOT_COUNT) {
            ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, pszCmd, LayerArgName(CMDID_SAVE, SAVE_ARG_SLOT), ll, 0,
                               KX_SAVE_SLOT_COUNT - 1);
            return -1;
        }
        nSlot = static_cast<int>(ll);
    }

    // The record of the DNO.
    if (HasArg(SAVE_ARG_DNO)) {
        const int64_t llDno = ArgInt(SAVE_ARG_DNO);
        const char* pszDnoArg = LayerArgName(CMDID_SAVE, SAVE_ARG_DNO);
        if (llDno < 1 || llDno > KX_SAVE_MAX_DNO) {
            ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, pszCmd, pszDnoArg, llDno, 1, KX_SAVE_MAX_DNO);
            return -1;
        }
        const int nIndex = static_cast<int>(llDno - 1);
        if (g_anPendingSize[nIndex]) {
            ReportScriptErrorF(KX_ERR_SAVE_PENDING, 1, pszCmd, pszDnoArg, llDno);
            return -1;
        }
        // A container selection: the highest class and the highest type among the ids given.
        int nClass = 0, nType = 0;
        for (int id = SAVE_ARG_CONTAINER_FIRST; id <= SAVE_ARG_CONTAINER_LAST; ++id) {
            if (!HasArg(id)) continue;
            const int k = id - SAVE_ARG_CONTAINER_FIRST;
            if (k % 4 + 1 > nClass) nClass = k % 4 + 1;
            if (k / 4 + 1 > nType) nType = k / 4 + 1;
        }
        if (nClass) {
            if (BuildContainerRecord(nIndex, nClass, nType) != 0) return -1;
        } else if (pLayer || bVar) {
            if (BuildSingleRecord(nIndex, pLayer, nVar, llElem, bWhole) != 0) return -1;
        }
    }

    // A slot wins over a file; without either the records stay pending.
    if (bSlot) {
        if (FlushToSlot(nSlot) != 0) return -1;
    } else if (bFile) {
        if (FlushToFile(strPath) != 0) return -1;
    } else {
        return 0;
    }
    FreePendingRecords(-1);
    return 0;
}

int CmdSaveClear(void)
{
    if (FetchCommandArgs(CMDID_SAVE_CLEAR) != 0) return -1;
    FreePendingRecords(-1);
    return 0;
}
