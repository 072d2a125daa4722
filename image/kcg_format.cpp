// KCG images: the head, the checks of its sizes, and the decoding of the two parts (here or on two
// image workers).
#include "image/kcg_format.h"

#include <cstdlib>
#include <cstring>

#include "core/codecs.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_limits.h"
#include "core/sysfacts.h"
#include "image/image_load.h"
#include "image/layer.h"
#include "core/worker_pool.h"

namespace {

const char k_szFileCheckError[] = "File Check Error.";

inline uint32_t ReadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The part a record decodes: its data, its place in the output and its two sizes. 0 for a record
// of a worker other than 0 and 1.
struct KCG_PART {
    const uint8_t* pSrc;
    uint32_t nStored;
    uint8_t* pDst;
    uint32_t nDecoded;
    int nNumber;   // 1 or 2
};

int GetPart(const WORKER_JOB* pJob, KCG_PART* pPart)
{
    const WORKER_KCG_ARGS& a = pJob->kcg;
    if (pJob->nIndex == 0) {
        *pPart = KCG_PART{a.pFile + KCG_HEADER_SIZE, a.nStored1, a.pOut, a.nDecoded1, 1};
        return 1;
    }
    if (pJob->nIndex == 1) {
        *pPart = KCG_PART{a.pFile + KCG_HEADER_SIZE + a.nStored1, a.nStored2, a.pOut + a.nDecoded1, a.nDecoded2, 2};
        return 1;
    }
    return 0;
}

void ShowUncompressError(int nPart)
{
    ShowMessageBox("", nPart == 2 ? "Uncompress Status Error 2." : "Uncompress Status Error 1.");
}

// A WebP part must be a picture as wide as the image whose pixels fill exactly its decoded size.
int CheckWebPPart(const uint8_t* pSrc, uint32_t nStored, uint32_t nDecoded, uint32_t nImageWidth)
{
    if (nDecoded == 0)
        return 0;
    int32_t w = 0, h = 0;
    if (!g_pfnWebPGetInfo(pSrc, nStored, &w, &h) || w <= 0 || h <= 0)
        return -1;
    if (static_cast<uint32_t>(w) != nImageWidth || static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4 != nDecoded)
        return -1;
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Job routines

int JobCopyKCGRaw(WORKER_JOB* pJob)
{
    KCG_PART part;
    if (!GetPart(pJob, &part) || part.nDecoded == 0)
        return 0;
    if (part.nStored != part.nDecoded)
        return -part.nNumber;
    std::memcpy(part.pDst, part.pSrc, part.nDecoded);
    return 0;
}

int JobDecodeKCGZlib(WORKER_JOB* pJob)
{
    KCG_PART part;
    if (!GetPart(pJob, &part) || part.nDecoded == 0)
        return 0;
    uint32_t nLen = part.nDecoded;
    if (g_pfnUncompress(part.pDst, &nLen, part.pSrc, part.nStored) != KX_Z_OK || nLen != part.nDecoded)
        return -part.nNumber;
    return 0;
}

int JobDecodeKCGSnappy(WORKER_JOB* pJob)
{
    KCG_PART part;
    if (!GetPart(pJob, &part) || part.nDecoded == 0)
        return 0;
    uint32_t nLen = part.nDecoded;
    if (g_pfnSnpUncompress(part.pSrc, part.nStored, part.pDst, &nLen) != KX_SNP_OK || nLen != part.nDecoded)
        return -part.nNumber;
    return 0;
}

int JobDecodeKCGWebP(WORKER_JOB* pJob)
{
    KCG_PART part;
    if (!GetPart(pJob, &part) || part.nDecoded == 0)
        return 0;
    int32_t w = 0, h = 0;
    if (!g_pfnWebPGetInfo(part.pSrc, part.nStored, &w, &h) || w <= 0 || h <= 0 ||
        static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4 != part.nDecoded)
        return -part.nNumber;
    // The decoder writes exactly w x h pixels, which is the part's decoded size.
    if (!g_pfnWebPDecode(part.pSrc, part.pDst, part.nStored, w, h))
        return -part.nNumber;
    return 0;
}

void InstallKcgJobs(void)
{
    SetWorkerJobHandler(JOB_KCG_RAW, JobCopyKCGRaw);
    SetWorkerJobHandler(JOB_KCG_ZLIB, JobDecodeKCGZlib);
    SetWorkerJobHandler(JOB_KCG_SNAPPY, JobDecodeKCGSnappy);
    SetWorkerJobHandler(JOB_KCG_WEBP, JobDecodeKCGWebP);
}

// ---------------------------------------------------------------------------------------------
// Loader

int ReadKCGHeader(const uint8_t* pData, size_t nSize, KCG_HEADER* pHead)
{
    *pHead = KCG_HEADER{};
    if (!pData || nSize < KCG_HEADER_SIZE)
        return -1;
    std::memcpy(pHead->abMagic, pData, 4);
    pHead->nWidth = ReadU32(pData + KCG_OFS_WIDTH);
    pHead->nHeight = ReadU32(pData + KCG_OFS_HEIGHT);
    pHead->nCompression = ReadU32(pData + KCG_OFS_COMPRESSION);
    pHead->nDecoded1 = ReadU32(pData + KCG_OFS_DECODED1);
    pHead->nStored1 = ReadU32(pData + KCG_OFS_STORED1);
    pHead->nDecoded2 = ReadU32(pData + KCG_OFS_DECODED2);
    pHead->nStored2 = ReadU32(pData + KCG_OFS_STORED2);
    return 0;
}

int DecodeKCGImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut)
{
    *pOut = DECODED_IMAGE{};
    KCG_HEADER head;
    if (ReadKCGHeader(pData, nSize, &head) != 0) {
        ShowMessageBox("", k_szFileCheckError);
        return -1;
    }
    if (std::memcmp(head.abMagic, "KCG\0", 4) != 0)
        ShowMessageBox("", k_szFileCheckError);   // a warning only: the fields decide
    if (head.nWidth < 1 || head.nWidth > KX_MAX_IMAGE_SIDE || head.nHeight < 1 || head.nHeight > KX_MAX_IMAGE_SIDE) {
        ReportScriptErrorF(KX_ERR_IMAGE_SIZE, 1, pszName);
        return -1;
    }
    // The parts must lie inside the file and decode into the image; a raw part is its own decoding.
    const uint64_t nImageBytes = static_cast<uint64_t>(head.nWidth) * head.nHeight * 4;
    const uint64_t nFileNeeds = uint64_t(KCG_HEADER_SIZE) + head.nStored1 + head.nStored2;
    const bool bRawMismatch =
        head.nCompression == KCGCOMP_RAW && (head.nStored1 != head.nDecoded1 || head.nStored2 != head.nDecoded2);
    if (nFileNeeds > nSize || uint64_t(head.nDecoded1) + head.nDecoded2 > nImageBytes || bRawMismatch) {
        ShowMessageBox("", k_szFileCheckError);
        return -1;
    }
    const uint8_t* pPart2 = pData + KCG_HEADER_SIZE + head.nStored1;
    if (head.nCompression == KCGCOMP_WEBP) {
        // Checked here too, so that a picture of another width is refused the same way on every path.
        if (CheckWebPPart(pData + KCG_HEADER_SIZE, head.nStored1, head.nDecoded1, head.nWidth) != 0) {
            ShowUncompressError(1);
            return -1;
        }
        if (CheckWebPPart(pPart2, head.nStored2, head.nDecoded2, head.nWidth) != 0) {
            ShowUncompressError(2);
            return -1;
        }
    }
    const int32_t nWidth = static_cast<int32_t>(head.nWidth);
    const int32_t nHeight = static_cast<int32_t>(head.nHeight);
    uint8_t* pPixels = AllocPixelBuffer(nullptr, nWidth, nHeight, pszName);   // cleared whole
    if (!pPixels)
        return -1;

    if (head.nCompression <= KCGCOMP_WEBP) {
        WORKER_JOB aJobs[2];
        std::memset(static_cast<void*>(aJobs), 0, sizeof aJobs);
        for (int i = 0; i < 2; ++i) {
            aJobs[i].nIndex = i;
            aJobs[i].nCode = JOB_KCG_RAW + static_cast<int32_t>(head.nCompression);
            aJobs[i].kcg = WORKER_KCG_ARGS{head.nDecoded1, head.nStored1, head.nDecoded2, head.nStored2, pPixels, pData};
        }
        int nResult = 0;
        if (g_nWorkers >= 2) {
            nResult = PostWorkerJobs(aJobs, 2);
        } else {
            static const PFN_WORKER_JOB k_apfnJob[] = {JobCopyKCGRaw, JobDecodeKCGZlib, JobDecodeKCGSnappy,
                                                       JobDecodeKCGWebP};
            const PFN_WORKER_JOB pfn = k_apfnJob[head.nCompression];
            nResult = pfn(&aJobs[0]);
            if (nResult == 0)
                nResult = pfn(&aJobs[1]);
        }
        if (nResult != 0) {
            std::free(pPixels);
            ShowUncompressError(nResult == -2 ? 2 : 1);
            return -1;
        }
    }
    pOut->pPixels = pPixels;
    pOut->nWidth = nWidth;
    pOut->nHeight = nHeight;
    pOut->bHasAlpha = 1;
    return 0;
}

int LoadKCGImage(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName)
{
    pLoc->pData = nullptr;
    pLoc->nSize = 0;
    const int nRead = LocateAndReadFile(pLoc, pszName);
    if (nRead != 0 || pLoc->nSize < 0) {
        std::free(pLoc->pData);
        pLoc->pData = nullptr;
        pLoc->nSize = 0;
        return -1;
    }
    DECODED_IMAGE img;
    const int nResult = DecodeKCGImage(pLoc->pData, static_cast<size_t>(pLoc->nSize), pszName, &img);
    std::free(pLoc->pData);
    pLoc->pData = nullptr;
    pLoc->nSize = 0;
    if (nResult != 0)
        return -1;
    SetLayerPixels(pLayer, img.pPixels, img.nWidth, img.nHeight);
    pLayer->bHasAlpha = 1;
    return 0;
}
