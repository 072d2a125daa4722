// Writes pack archives (.kpf): for tests, the demo builder and the kxpack tool.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PACK_WRITER_ENTRY {
    std::string strName;          // cp932, '\' separators, e.g. "kxbin\\kxc.kbn"; stored as given
    std::vector<uint8_t> data;    // the file's bytes
    int nType = -1;               // file type code; -1 derives it from the name's extension
    int nCompression = 0;         // 0 stored, 1 zlib
    bool bRepairTrailer = true;   // write the parity trailer (else P = 0)

    // Raw options for damaged packs in tests; each left at its default writes a sound pack.
    int nRawCompression = -1;     // value written in the compression byte instead of nCompression
    int64_t llRawSize = -1;       // decoded size written instead of the true one
    int64_t llRawStoredSize = -1; // stored size written instead of the true one
    int64_t llRawOffset = -1;     // data offset written instead of the true one
    int64_t llRawChecksum = -1;   // checksum written instead of the true one
    int nRawStoredLengthByte = -1;// stored length byte written instead of the scrambled length
    uint32_t nRawHash = 0;        // with bRawHash: name hash written instead of the true one
    bool bRawHash = false;
    int nRawParityLength = -1;    // trailer's P written instead of 1024/0
    int nRawBlockCount = -1;      // trailer's N written instead of the true one
};

struct PACK_WRITER_OPTIONS {
    int nVersion = 234;
    std::string strMagic = std::string("KPF\0", 4);   // 4 bytes
    int nRawEntryCount = -1;      // entry count written instead of the true one
    int nRawTableSize = -1;       // table size written instead of the true one
    bool bTruncateTable = false;  // cut the file in the middle of the entry table
};

// The whole pack file image.
std::vector<uint8_t> BuildPackImage(const std::vector<PACK_WRITER_ENTRY>& entries, const PACK_WRITER_OPTIONS& opt = {});
// Writes it to a native path. 0 or -1.
int WritePackFile(const std::string& strNativePath, const std::vector<PACK_WRITER_ENTRY>& entries,
                  const PACK_WRITER_OPTIONS& opt = {});
// Offset in the image of an entry's stored data (after BuildPackImage), for damaging it in tests.
// Reads the table as written (ReadPackTable): the offset field's value, or -1 when the header's
// count, table size or a stored length byte keeps the entry from being found.
int64_t FindPackEntryDataOffset(const std::vector<uint8_t>& image, size_t nEntry);

// One packed entry as it stands in a table, its name decoded.
struct PACK_TABLE_ENTRY {
    uint32_t nHash = 0;
    uint8_t bStoredLength = 0;
    std::string strName;          // cp932 as stored
    int nType = 0;
    int nCompression = 0;
    int32_t nSize = 0;
    int32_t nStoredSize = 0;
    int64_t llOffset = 0;
    uint32_t nChecksum = 0;
};
// Decodes the header's entry count of entries from the table of a pack image (the image need only
// hold the header and the table); the magic is not checked. 0, or -1 for a table that does not fit.
int ReadPackTable(const uint8_t* pData, size_t nSize, std::vector<PACK_TABLE_ENTRY>* pOut);
// The length byte a pack stores for a name of nLength bytes (0..255).
uint8_t PackStoredLengthByte(int nLength);
// The file type code of a name from its extension (compared without case), 0 for any other.
int PackTypeFromName(const std::string& strName);
