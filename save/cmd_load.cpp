// The load command.
#include "save/cmd_load.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/codecs.h"
#include "core/cp932.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_limits.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "image/cmd_layer.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "platform/plat_file.h"
#include "save/cmd_save.h"
#include "save/save_format.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"
#include "script/dispatch.h"

namespace {

enum { KX_ERR_LOAD_LAYER_MISSING = 101250 };

// Deflate never produces more than about 1032 bytes per input byte; a raw size beyond that cannot
// come out of the packed bytes and is refused before anything is allocated for it.
constexpr uint64_t kZlibMaxRatio = 1032;
constexpr uint64_t kZlibSlack = 1024;

struct FREE_DELETER {
    void operator()(void* p) const { std::free(p); }
};
using HEAP_BYTES = std::unique_ptr<uint8_t, FREE_DELETER>;

struct FILE_CLOSER {
    void operator()(PLAT_FILE* f) const { PlatFileClose(f); }
};
using FILE_HANDLE = std::unique_ptr<PLAT_FILE, FILE_CLOSER>;

const char* CmdName(void) { return GetScriptCommandName(CMDID_LOAD); }
const char* ArgName(int nId) { return LayerArgName(CMDID_LOAD, nId); }

void ShowUncompressError(int bZlib)
{
    ShowMessageBox("", GetEngineText(bZlib ? TXT_LOAD_UNCOMPRESS_ERROR : TXT_LOAD_SNP_UNCOMPRESS_ERROR));
}

// Whether nRaw bytes can come out of the packed bytes at all: Snappy states its length in the
// data, zlib is bounded by its largest ratio. A raw size that cannot is the codec's error.
bool RawSizePossible(const uint8_t* pSrc, uint32_t nSrc, uint32_t nRaw, int bZlib)
{
    if (bZlib) return uint64_t(nRaw) <= uint64_t(nSrc) * kZlibMaxRatio + kZlibSlack;
    uint32_t nLen = 0;
    return g_pfnSnpUncompressedLength(pSrc, nSrc, &nLen) == 0 && nLen == nRaw;
}

// Allocates nBytes (at least 1); NULL when there is no memory.
HEAP_BYTES AllocBytes(uint64_t nBytes)
{
    if (nBytes > SIZE_MAX) return nullptr;
    return HEAP_BYTES(static_cast<uint8_t*>(std::malloc(nBytes ? size_t(nBytes) : 1)));
}

// The save file's name as the player's save folder holds it: ASCII letters lower-cased, '/' made
// '\', at most 32 bytes, no folder part, ".sd" appended unless present. 0, or -1 after the report.
int MakeSaveFilePath(const char* pszArg, std::string* pPath)
{
    char szName[KX_ARG_TEXT_BUFFER];
    CopyTextBounded(szName, sizeof szName, pszArg);
    LowerCaseASCII(szName);
    SlashesToBackslashes(szName);
    const size_t nLen = std::strlen(szName);
    if (nLen > KX_SAVE_NAME_MAX) {
        ReportScriptErrorF(KX_ERR_SAVE_NAME_LONG, 1, CmdName(), szName);
        return -1;
    }
    for (const char* p = szName; *p; p = NextCharCp932(p)) {
        if (*p == '\\') {
            ReportScriptErrorF(KX_ERR_SAVE_NAME_SLASH, 1, CmdName(), szName);
            return -1;
        }
    }
    std::string strName = szName;
    if (nLen < 3 || strName.compare(nLen - 3, 3, ".sd") != 0) strName += ".sd";
    *pPath = std::string(g_szSaveFolder) + strName;
    return 0;
}

// One record read from a file or a slot: its header and its packed bytes.
struct LOADED_RECORD {
    SAVE_RECORD_HEADER hdr{};
    HEAP_BYTES packed;
};

// Reads exactly n bytes; false on a short read.
bool ReadExact(PLAT_FILE* f, void* p, uint64_t n) { return n == 0 || PlatFileRead(f, p, int64_t(n)) == int64_t(n); }

// Allocates the packed bytes of a record; the box names what the record asked for.
bool AllocPacked(LOADED_RECORD* pRec, int nDno, bool bSlot)
{
    pRec->packed = AllocBytes(pRec->hdr.nPacked);
    if (pRec->packed) return true;
    if (bSlot)
        ShowMessageBox("", GetEngineText(TXT_LOAD_NO_MEMORY_SLOT), nDno, pRec->hdr.nPacked, pRec->hdr.nRaw);
    else
        ShowMessageBox("", GetEngineText(TXT_LOAD_NO_MEMORY));
    return false;
}

// Reports a header refused by ParseSaveFileHeader. -1.
int ReportBadHeader(int r)
{
    if (r == KX_SAVE_ERR_MAGIC)
        ReportScriptError(KX_ERR_SAVE_MAGIC, 1);
    else if (r == KX_SAVE_ERR_VERSION)
        ReportScriptError(KX_ERR_SAVE_VERSION, 1);
    else
        ShowUncompressError(1);   // a save file cut short inside its offset table
    return -1;
}

// Reads the record of nDno from a save file. 1 with the record (DNO 1024: the slots are already
// restored and *pbDone is set), 0 when the file does not hold the DNO (reported), -1 after an error.
int ReadFileRecord(const std::string& strPath, int nDno, LOADED_RECORD* pRec, bool* pbDone)
{
    FILE_HANDLE f(PlatFileOpen(strPath.c_str(), PLAT_FILE_READ));
    if (!f) {
        ReportScriptErrorF(KX_ERR_SAVE_NO_FILE, 1, CmdName(), ArgName(LOAD_ARG_FILE), strPath.c_str());
        return -1;
    }
    const int64_t llSize = PlatFileSize(f.get());
    if (llSize < 0) {
        ShowUncompressError(1);
        return -1;
    }
    static uint8_t s_abHead[KX_SAVE_HEADER_SIZE];
    const int64_t llHead = PlatFileRead(f.get(), s_abHead, KX_SAVE_HEADER_SIZE);
    SAVE_FILE_HEADER hdr;
    const int r = ParseSaveFileHeader(s_abHead, llHead > 0 ? size_t(llHead) : 0, &hdr);
    if (r != KX_SAVE_OK) return ReportBadHeader(r);
    const uint64_t nOffset = hdr.anOffset[nDno - 1];
    if (nOffset == 0) {
        ReportScriptErrorF(KX_ERR_SAVE_NO_RECORD, 1, CmdName(), ArgName(LOAD_ARG_DNO));
        return 0;
    }
    // The stored DNO, the record header and the packed bytes must all lie inside the file.
    uint8_t abPrefix[KX_SAVE_RECORD_PREFIX];
    if (nOffset < KX_SAVE_HEADER_SIZE || nOffset + KX_SAVE_RECORD_PREFIX > uint64_t(llSize) ||
        PlatFileSeek(f.get(), int64_t(nOffset), PLAT_SEEK_SET) != int64_t(nOffset) ||
        !ReadExact(f.get(), abPrefix, sizeof abPrefix)) {
        ShowUncompressError(1);
        return -1;
    }
    const int rh = ParseSaveRecordHeader(abPrefix + 4, KX_SAVE_RECORD_HEADER_SIZE, &pRec->hdr);
    const uint64_t nAfter = uint64_t(llSize) - nOffset - KX_SAVE_RECORD_PREFIX;
    if (nDno == KX_SAVE_SLOT_BLOB_DNO) {
        // The slot blob: its header and entries, handed to the slot restorer as one block.
        if (pRec->hdr.nPacked > nAfter) {
            ShowMessageBox("", GetEngineText(TXT_LOAD_SLOTS_ERROR));
            return -1;
        }
        HEAP_BYTES blob = AllocBytes(uint64_t(KX_SAVE_RECORD_HEADER_SIZE) + pRec->hdr.nPacked);
        if (!blob) {
            ShowMessageBox("", GetEngineText(TXT_LOAD_NO_MEMORY));
            return -1;
        }
        std::memcpy(blob.get(), abPrefix + 4, KX_SAVE_RECORD_HEADER_SIZE);
        if (!ReadExact(f.get(), blob.get() + KX_SAVE_RECORD_HEADER_SIZE, pRec->hdr.nPacked)) {
            ShowMessageBox("", GetEngineText(TXT_LOAD_SLOTS_ERROR));
            return -1;
        }
        f.reset();
        *pbDone = true;
        return RestoreMemorySlots(blob.get(), KX_SAVE_RECORD_HEADER_SIZE + size_t(pRec->hdr.nPacked)) == 0 ? 1 : -1;
    }
    if (rh != KX_SAVE_OK) {
        ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
        return -1;
    }
    if (pRec->hdr.nPacked > nAfter) {
        ShowUncompressError(pRec->hdr.bKind == SAVEREC_LAYER);
        return -1;
    }
    if (!AllocPacked(pRec, nDno, false)) return -1;
    if (!ReadExact(f.get(), pRec->packed.get(), pRec->hdr.nPacked)) {
        ShowUncompressError(pRec->hdr.bKind == SAVEREC_LAYER);
        return -1;
    }
    return 1;
}

// Reads the record of nDno from memory slot nSlot. 1 with the record, 0 when the slot image does
// not hold the DNO (reported), -1 after an error. DNO 1024 has no special meaning in a slot.
int ReadSlotRecord(int nSlot, int nDno, LOADED_RECORD* pRec)
{
    const uint8_t* pImage = g_apMemSlot[nSlot];
    const uint32_t nSize = pImage ? g_anMemSlotSize[nSlot] : 0;
    if (nSize == 0) {
        ReportScriptErrorF(KX_ERR_SAVE_NO_FILE, 1, CmdName(), ArgName(LOAD_ARG_FILE), "(mem)");
        return -1;
    }
    SAVE_FILE_HEADER hdr;
    const int r = ParseSaveFileHeader(pImage, nSize, &hdr);
    if (r != KX_SAVE_OK) return ReportBadHeader(r);
    const uint32_t nOffset = hdr.anOffset[nDno - 1];
    if (nOffset == 0) {
        ReportScriptErrorF(KX_ERR_SAVE_NO_RECORD, 1, CmdName(), ArgName(LOAD_ARG_DNO));
        return 0;
    }
    uint8_t abHdr[KX_SAVE_RECORD_HEADER_SIZE];
    uint32_t dwDno = 0;
    g_anMemSlotReadPos[nSlot] = nOffset;
    if (nOffset < KX_SAVE_HEADER_SIZE || ReadSlotU32(nSlot, &dwDno) != 0 || ReadSlotBytes(nSlot, abHdr, sizeof abHdr) != 0) {
        ShowUncompressError(1);
        return -1;
    }
    if (ParseSaveRecordHeader(abHdr, sizeof abHdr, &pRec->hdr) != KX_SAVE_OK) {
        ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
        return -1;
    }
    if (pRec->hdr.nPacked > nSize - g_anMemSlotReadPos[nSlot]) {
        ShowUncompressError(pRec->hdr.bKind == SAVEREC_LAYER);
        return -1;
    }
    if (!AllocPacked(pRec, nDno, true)) return -1;
    ReadSlotBytes(nSlot, pRec->packed.get(), pRec->hdr.nPacked);
    return 1;
}

// A variable that a record may be restored into: a user variable of the table.
VAR_DESC* RestorableVar(int nVar)
{
    VAR_DESC* pVar = nVar >= KX_FIRST_USER_VAR ? GetVarDesc(nVar) : nullptr;
    if (!pVar) ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
    return pVar;
}

// Uncompresses one kind-0 body (packed bytes of a record or of a container's sub-record) and
// restores it. 0 or -1.
int RestoreVariableFrom(const uint8_t* pPacked, uint32_t nPacked, uint32_t nRaw, int nVar, int bWhole, int64_t llElem,
                        const char* pszPathText)
{
    if (!RawSizePossible(pPacked, nPacked, nRaw, 0)) {
        ShowUncompressError(0);
        return -1;
    }
    HEAP_BYTES raw = AllocBytes(nRaw);
    if (!raw) {
        ShowMessageBox("", GetEngineText(TXT_LOAD_NO_MEMORY));
        return -1;
    }
    if (UncompressSaveRecord(pPacked, nPacked, raw.get(), nRaw, 0) != 0) return -1;
    return RestoreVariableRecord(nVar, bWhole, raw.get(), nRaw, llElem, pszPathText);
}

// The container: every sub-record restored into its own variable, whole, in order. A damaged walk
// stops at the damage; the variables before it stay restored.
int RestoreContainer(const LOADED_RECORD& rec, const char* pszPathText)
{
    size_t nPos = 0;
    SAVE_RECORD_HEADER sub;
    const uint8_t* pBody = nullptr;
    for (;;) {
        const int r = NextSaveContainerRecord(rec.packed.get(), rec.hdr.nPacked, &nPos, &sub, &pBody);
        if (r == 0) return 0;
        if (r < 0) {
            ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
            return -1;
        }
        if (!RestorableVar(sub.wVar)) return -1;
        if (RestoreVariableFrom(pBody, sub.nPacked, sub.nRaw, sub.wVar, 1, 0, pszPathText) != 0) return -1;
    }
}

// The name of the command that declares variables of a type, for the type-mismatch message.
const char* DeclaringCommandName(int nType)
{
    switch (nType) {
    case KX_VAR_TYPE_INT: return GetScriptCommandName(CMDID_DECLARE_INT);
    case KX_VAR_TYPE_FLOAT: return GetScriptCommandName(CMDID_DECLARE_FLOAT);
    default: return GetScriptCommandName(CMDID_DECLARE_STRING);
    }
}

}  // namespace

// ---- slot readers ----

int ReadSlotBytes(int nSlot, void* pOut, uint32_t n)
{
    if (nSlot < 0 || nSlot >= KX_SAVE_SLOT_COUNT || !g_apMemSlot[nSlot]) return -1;
    const uint32_t nPos = g_anMemSlotReadPos[nSlot], nSize = g_anMemSlotSize[nSlot];
    if (nPos > nSize || n > nSize - nPos) return -1;
    if (n) std::memcpy(pOut, g_apMemSlot[nSlot] + nPos, n);
    g_anMemSlotReadPos[nSlot] = nPos + n;
    return 0;
}

int ReadSlotU8(int nSlot, uint8_t* pb) { return ReadSlotBytes(nSlot, pb, 1); }

int ReadSlotU16(int nSlot, uint16_t* pw)
{
    uint8_t ab[2];
    if (ReadSlotBytes(nSlot, ab, 2) != 0) return -1;
    *pw = GetSaveU16(ab);
    return 0;
}

int ReadSlotU32(int nSlot, uint32_t* pdw)
{
    uint8_t ab[4];
    if (ReadSlotBytes(nSlot, ab, 4) != 0) return -1;
    *pdw = GetSaveU32(ab);
    return 0;
}

// ---- restorers ----

int UncompressSaveRecord(const uint8_t* pSrc, uint32_t nSrc, uint8_t* pDst, uint32_t nDst, int bZlib)
{
    const int nKind = bZlib ? SAVEREC_LAYER : SAVEREC_VARIABLE;
    if (!RawSizePossible(pSrc, nSrc, nDst, bZlib) || UncompressSaveBody(nKind, pSrc, nSrc, pDst, nDst) != KX_SAVE_OK) {
        ShowUncompressError(bZlib);
        return -1;
    }
    return 0;
}

int RestoreVariableRecord(int nVar, int bWhole, const uint8_t* pBody, size_t nBody, int64_t llElem,
                          const char* pszPathText)
{
    VAR_DESC* pVar = RestorableVar(nVar);
    if (!pVar) return -1;
    if (nBody < 8) {
        ReportScriptError(KX_ERR_SAVE_VALUE_SIZE, 1);
        return -1;
    }
    const uint32_t nType = GetSaveU32(pBody);
    if (nType != pVar->bType) {
        if (nType < KX_VAR_TYPE_INT || nType > KX_VAR_TYPE_STRING || pVar->bType < KX_VAR_TYPE_INT ||
            pVar->bType > KX_VAR_TYPE_STRING)
            ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
        else
            ReportScriptErrorF(KX_ERR_SAVE_TYPE, 1, CmdName(), DeclaringCommandName(pVar->bType));
        return -1;
    }
    if (GetSaveU32(pBody + 4) > KX_VAR_MAX_DIMS) {
        ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
        return -1;
    }
    SAVE_VAR_BODY vb{};
    const int r = ParseVarBody(pBody, nBody, &vb);
    // Fields a refusal leaves unread (the body ended inside them) are never compared.
    if (r == KX_SAVE_ERR_SHORT || vb.nValueSize > KX_SAVE_MAX_VALUE_SIZE) {
        ReportScriptError(KX_ERR_SAVE_VALUE_SIZE, 1);
        return -1;
    }
    if (r != KX_SAVE_OK && r != KX_SAVE_ERR_VALUE_SIZE && r != KX_SAVE_ERR_TEXT_LENGTH) {
        ReportScriptError(KX_ERR_SAVE_INTERNAL, 1);
        return -1;
    }
    if ((bWhole && int(vb.nDims) != pVar->nDims) || (!bWhole && vb.nDims > 0)) {
        ReportScriptError(KX_ERR_SAVE_DIMS, 1);
        return -1;
    }
    if (bWhole) {
        for (uint32_t i = 0; i < vb.nDims; ++i) {
            if (int64_t(vb.anDim[i]) != pVar->anDim[i]) {
                ReportScriptError(KX_ERR_SAVE_DIM_SIZE, 1);
                return -1;
            }
        }
    }
    if (r == KX_SAVE_ERR_TEXT_LENGTH) {
        ShowMessageBox("", GetEngineText(TXT_LOAD_BAD_SAVE_FILE), pszPathText ? pszPathText : "");
        return -1;
    }
    if (r == KX_SAVE_ERR_VALUE_SIZE) {
        ReportScriptError(KX_ERR_SAVE_VALUE_SIZE, 1);
        return -1;
    }
    // The values go to elements first .. first + count - 1, which must all be the variable's.
    const int64_t llFirst = bWhole ? 0 : llElem;
    const uint64_t nCount = bWhole ? vb.llCount : 1;
    if (llFirst < 0 || llFirst >= pVar->llCount || nCount > uint64_t(pVar->llCount - llFirst) ||
        (bWhole && nCount != uint64_t(pVar->llCount))) {
        ReportScriptError(KX_ERR_SAVE_DIM_SIZE, 1);
        return -1;
    }
    if (nType == KX_VAR_TYPE_INT) {
        for (uint64_t i = 0; i < nCount; ++i) pVar->pllValues[llFirst + int64_t(i)] = GetSaveBodyInt(&vb, i);
    } else if (nType == KX_VAR_TYPE_FLOAT) {
        for (uint64_t i = 0; i < nCount; ++i) pVar->pdValues[llFirst + int64_t(i)] = GetSaveBodyFloat(&vb, i);
    } else {
        size_t nPos = 0;
        const char* pText = nullptr;
        uint32_t nLen = 0;
        for (uint64_t i = 0; i < nCount && NextSaveBodyText(&vb, &nPos, &pText, &nLen) == 1; ++i)
            if (WriteVarStringBytes(pVar, llFirst + int64_t(i), pText, nLen) != 0) return -1;
    }
    return 0;
}

int RestoreLayerRecord(TREE_NODE* pOld, const char* pszPath, const uint8_t* pBody, size_t nBody)
{
    SAVE_LAYER_BODY lb{};
    const int r = ParseLayerBody(pBody, nBody, &lb);
    if (r == KX_SAVE_ERR_LAYER_WIDE) {
        ShowMessageBox("", GetEngineText(TXT_CG_SIZE_TOO_LARGE), lb.nWidth, lb.nHeight);
        ReportError(KX_ERR_LAYER_NO_MEMORY, 1);
        return -1;
    }
    if (r != KX_SAVE_OK) {
        ReportScriptError(KX_ERR_SAVE_LAYER_BLOCK, 1);
        return -1;
    }
    // The new image is made before the old node goes, so a refusal leaves the layer in place.
    uint8_t* pPixels = AllocPixelBuffer(nullptr, lb.nWidth, lb.nHeight, "");
    if (!pPixels) return -1;
    std::memcpy(pPixels, lb.pPixels, lb.nPixelBytes);

    MarkLayerDirty(pOld);
    FreeNode(pOld);
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszPath, 0, 1);
    LAYER* pLayer = pNode ? CreateNodeLayer(pNode) : nullptr;
    if (!pLayer) {
        std::free(pPixels);
        if (pNode) {
            RemoveNode(pNode);
            FreeTreeNode(pNode);
        }
        return -1;
    }
    SetLayerPixels(pLayer, pPixels, lb.nWidth, lb.nHeight);
    MarkLayerDirty(pNode);
    return 0;
}

int RestoreMemorySlots(const uint8_t* pRecord, size_t nRecord)
{
    SAVE_RECORD_HEADER hdr;
    if (ParseSaveRecordHeader(pRecord, nRecord, &hdr) != KX_SAVE_OK ||
        hdr.nPacked > nRecord - KX_SAVE_RECORD_HEADER_SIZE) {
        ShowMessageBox("", GetEngineText(TXT_LOAD_SLOTS_ERROR));
        return -1;
    }
    // Every entry is uncompressed first; the slots change only when the whole blob is sound.
    std::unique_ptr<HEAP_BYTES[]> images(new HEAP_BYTES[KX_SAVE_SLOT_COUNT]);
    uint32_t anSize[KX_SAVE_SLOT_COUNT] = {};
    const uint8_t* pEntries = pRecord + KX_SAVE_RECORD_HEADER_SIZE;
    size_t nPos = 0;
    for (int i = 0; i < KX_SAVE_SLOT_COUNT; ++i) {
        uint32_t nRaw = 0, nPacked = 0;
        const uint8_t* pPacked = nullptr;
        bool bOk = NextSlotBlobEntry(pEntries, hdr.nPacked, &nPos, &nRaw, &nPacked, &pPacked) == 1;
        if (bOk && nRaw > 0) {
            bOk = RawSizePossible(pPacked, nPacked, nRaw, 1);
            if (bOk) images[i] = AllocBytes(nRaw);
            if (bOk && !images[i]) {
                ShowMessageBox("", GetEngineText(TXT_LOAD_NO_MEMORY));
                return -1;
            }
            bOk = bOk && UncompressSlotImage(pPacked, nPacked, images[i].get(), nRaw) == KX_SAVE_OK;
        }
        if (!bOk) {
            ShowMessageBox("", GetEngineText(TXT_LOAD_SLOTS_ERROR));
            return -1;
        }
        anSize[i] = nRaw;
    }
    for (int i = 0; i < KX_SAVE_SLOT_COUNT; ++i) {
        g_anMemSlotReadPos[i] = 0;
        if (anSize[i] == 0) {
            g_anMemSlotSize[i] = 0;   // the buffer stays for the next write
            continue;
        }
        if (g_apMemSlot[i] && g_anMemSlotCapacity[i] >= anSize[i]) {
            std::memcpy(g_apMemSlot[i], images[i].get(), anSize[i]);
        } else {
            std::free(g_apMemSlot[i]);
            g_apMemSlot[i] = images[i].release();
            g_anMemSlotCapacity[i] = anSize[i];
        }
        g_anMemSlotSize[i] = anSize[i];
    }
    return 0;
}

// ---- the command ----

int CmdLoad(void)
{
    if (FetchCommandArgs(CMDID_LOAD) != 0) return -1;

    const int64_t llDno = HasArg(LOAD_ARG_DNO) ? ArgInt(LOAD_ARG_DNO) : 0;
    if (llDno < 1 || llDno > KX_SAVE_MAX_DNO) {
        ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(), ArgName(LOAD_ARG_DNO), llDno, 1, KX_SAVE_MAX_DNO);
        return -1;
    }
    const int nDno = static_cast<int>(llDno);
    const bool bSlot = HasArg(LOAD_ARG_SLOT);
    const int64_t llSlot = bSlot ? ArgInt(LOAD_ARG_SLOT) : -1;
    if (bSlot && (llSlot < 0 || llSlot >= KX_SAVE_SLOT_COUNT)) {
        ReportScriptErrorF(KX_ERR_ARG_RANGE, 1, CmdName(), ArgName(LOAD_ARG_SLOT), llSlot, 0, KX_SAVE_SLOT_COUNT - 1);
        return -1;
    }

    // The target layer, when one is named.
    TREE_NODE* pLayerNode = nullptr;
    char szLayerPath[KX_MAX_OBJECT_PATH] = "";
    const bool bLayer = HasArg(LOAD_ARG_LAYER);
    if (bLayer) {
        std::string s = ArgText(LOAD_ARG_LAYER);
        if (HasArg(LOAD_ARG_LAYER_NUMBER)) s += "." + std::to_string(ArgInt(LOAD_ARG_LAYER_NUMBER));
        const int r = NormalizeObjectPath(szLayerPath, s.c_str(), g_pszLayerPath, 0);
        if (r < 0) return -1;
        pLayerNode = FindLayerNode(szLayerPath, HasArg(LOAD_ARG_LAYER_NUMBER) ? 0 : r);
        if (!pLayerNode || !GetNodeLayer(pLayerNode)) {
            ReportScriptErrorF(KX_ERR_LOAD_LAYER_MISSING, 1, CmdName(), szLayerPath);
            return -1;
        }
    }

    // The record, from a slot or from the file.
    LOADED_RECORD rec;
    std::string strPath;
    int r = 0;
    if (bSlot) {
        r = ReadSlotRecord(static_cast<int>(llSlot), nDno, &rec);
    } else {
        if (!HasArg(LOAD_ARG_FILE)) {
            ReportScriptErrorF(KX_ERR_SAVE_NO_FILE, 1, CmdName(), ArgName(LOAD_ARG_FILE), "");
            return -1;
        }
        if (MakeSaveFilePath(ArgText(LOAD_ARG_FILE), &strPath) != 0) return -1;
        bool bDone = false;
        r = ReadFileRecord(strPath, nDno, &rec, &bDone);
        if (bDone) return r > 0 ? 0 : -1;
    }
    if (r <= 0) return r;
    const char* pszPathText = bSlot ? "" : strPath.c_str();

    if (rec.hdr.bKind == SAVEREC_CONTAINER) {
        RestoreContainer(rec, pszPathText);
        return -1;
    }
    const int bZlib = rec.hdr.bKind == SAVEREC_LAYER;
    if (bLayer && !bZlib) {
        ReportScriptError(KX_ERR_SAVE_VAR_INTO_LAYER, 1);
        return -1;
    }
    if (!bLayer && bZlib) {
        ReportScriptError(KX_ERR_SAVE_LAYER_INTO_VAR, 1);
        return -1;
    }
    if (!bZlib) {
        const int nSlot = ArgSlot(LOAD_ARG_VAR);
        const int nVar = nSlot ? g_anArgVar[nSlot] : 0;
        const int bWhole = nSlot ? g_abArgRefTaken[nSlot] : 0;
        const int64_t llElem = nSlot ? g_anArgElem[nSlot] : 0;
        if (!RestorableVar(nVar)) return -1;
        return RestoreVariableFrom(rec.packed.get(), rec.hdr.nPacked, rec.hdr.nRaw, nVar, bWhole, llElem, pszPathText) ==
                       0
                   ? 0
                   : -1;
    }
    if (!RawSizePossible(rec.packed.get(), rec.hdr.nPacked, rec.hdr.nRaw, 1)) {
        ShowUncompressError(1);
        return -1;
    }
    HEAP_BYTES raw = AllocBytes(rec.hdr.nRaw);
    if (!raw) {
        ShowMessageBox("", GetEngineText(TXT_LOAD_NO_MEMORY));
        return -1;
    }
    if (UncompressSaveRecord(rec.packed.get(), rec.hdr.nPacked, raw.get(), rec.hdr.nRaw, 1) != 0) return -1;
    rec.packed.reset();
    if (RestoreLayerRecord(pLayerNode, szLayerPath, raw.get(), rec.hdr.nRaw) != 0) return -1;
    // Uncompressing a screen-sized image takes long enough that pacing would count the frame late.
    ResetFrameClock();
    return 0;
}
