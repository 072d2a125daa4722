// The registry store: a REGEDIT4 text file read whole at every call and rewritten whole on every
// change. The file is small and rarely touched; reading it each time also sees edits made by hand
// or by another copy of the engine.
#include "platform/plat_registry.h"
#include "platform/plat_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct REG_VALUE {
    std::string strName;   // "" is the default value
    int nType;
    std::string data;      // text without terminator, or raw bytes
};
struct REG_KEY {
    std::string strPath;   // "HKEY_...\sub\key"
    std::vector<REG_VALUE> values;
};
struct REG_STORE {
    std::vector<REG_KEY> keys;
    bool bDamaged = false;
    bool bExists = false;
    bool bCopyFailed = false;   // damaged, and its copy could not be kept: never rewritten
    int nCopyError = 0;
};

std::mutex g_mxRegistry;
std::string g_strTestPath;

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = (char)(x + 32);
        if (y >= 'A' && y <= 'Z') y = (char)(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string StorePath(void)
{
    if (!g_strTestPath.empty()) return g_strTestPath;
    const char* psz = getenv("KOLVEX_REGISTRY");
    if (psz && *psz) return psz;
    const char* pszConfig = getenv("XDG_CONFIG_HOME");
    std::string strBase;
    if (pszConfig && *pszConfig == '/') {
        strBase = pszConfig;
    } else {
        const char* pszHome = getenv("HOME");
        strBase = std::string(pszHome && *pszHome ? pszHome : "/tmp") + "/.config";
    }
    return strBase + "/kolvex/registry.reg";
}

std::string KeyPath(const char* pszRoot, const char* pszSubkey)
{
    std::string s = pszRoot ? pszRoot : "";
    std::string strSub = pszSubkey ? pszSubkey : "";
    while (!strSub.empty() && strSub.back() == '\\') strSub.pop_back();
    size_t i = 0;
    while (i < strSub.size() && strSub[i] == '\\') i++;
    strSub.erase(0, i);
    if (!strSub.empty()) s += "\\" + strSub;
    return s;
}

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted text starting at s[i] == '"': its content into *pOut and i past the closing quote.
bool ParseQuoted(const std::string& s, size_t* pi, std::string* pOut)
{
    size_t i = *pi;
    if (i >= s.size() || s[i] != '"') return false;
    pOut->clear();
    for (i++; i < s.size(); i++) {
        char c = s[i];
        if (c == '"') {
            *pi = i + 1;
            return true;
        }
        if (c == '\\') {
            if (++i >= s.size()) return false;
            c = s[i];
        } else if (IsLeadByte((unsigned char)c)) {
            // A cp932 double-byte character: its trail byte may be '\' or '"'.
            if (i + 1 >= s.size()) return false;
            pOut->push_back(c);
            c = s[++i];
        }
        pOut->push_back(c);
    }
    return false;
}

// Parses the data part of a value line (after '='); more lines may be taken for hex continuations.
bool ParseData(const std::vector<std::string>& lines, size_t* pLine, const std::string& strFirst, REG_VALUE* pVal)
{
    std::string s = strFirst;
    if (!s.empty() && s[0] == '"') {
        size_t i = 0;
        if (!ParseQuoted(s, &i, &pVal->data) || i != s.size()) return false;
        pVal->nType = PLAT_REG_SZ;
        return true;
    }
    if (s.compare(0, 6, "dword:") == 0) {
        std::string h = s.substr(6);
        if (h.empty() || h.size() > 8) return false;
        uint32_t v = 0;
        for (char c : h) {
            int d = HexDigit(c);
            if (d < 0) return false;
            v = v * 16 + (uint32_t)d;
        }
        pVal->nType = PLAT_REG_DWORD;
        pVal->data.assign(4, '\0');
        for (int k = 0; k < 4; k++) pVal->data[k] = (char)((v >> (8 * k)) & 0xFF);
        return true;
    }
    size_t i;
    if (s.compare(0, 4, "hex:") == 0) {
        pVal->nType = PLAT_REG_BINARY;
        i = 4;
    } else if (s.compare(0, 4, "hex(") == 0) {
        size_t close = s.find("):", 4);
        if (close == std::string::npos || close == 4 || close > 12) return false;
        uint32_t n = 0;   // up to 8 digits: any 32-bit type number
        for (size_t k = 4; k < close; k++) {
            int d = HexDigit(s[k]);
            if (d < 0) return false;
            n = n * 16 + (uint32_t)d;
        }
        pVal->nType = (int)n;
        i = close + 2;
    } else {
        return false;
    }
    pVal->data.clear();
    std::string strBytes = s.substr(i);
    // A line ending in '\' continues on the next one; *pLine moves past the continuations only
    // when the value reads whole, so that a damaged value does not swallow the lines after it.
    size_t nLast = *pLine;
    while (!strBytes.empty() && strBytes.back() == '\\') {
        strBytes.pop_back();
        if (nLast + 1 >= lines.size()) return false;
        const std::string& next = lines[++nLast];
        size_t k = next.find_first_not_of(" \t");
        strBytes += k == std::string::npos ? std::string() : next.substr(k);
    }
    size_t k = 0;
    while (k < strBytes.size()) {
        if (k + 2 > strBytes.size()) return false;
        int a = HexDigit(strBytes[k]), b = HexDigit(strBytes[k + 1]);
        if (a < 0 || b < 0) return false;
        pVal->data.push_back((char)(a * 16 + b));
        k += 2;
        if (k < strBytes.size()) {
            if (strBytes[k] != ',') return false;
            k++;
            if (k == strBytes.size()) return false;
        }
    }
    *pLine = nLast;
    return true;
}

// Reads the store line by line. A line that is not valid marks the store damaged and is skipped:
// the values after it still count. Values after a damaged key line belong to no key that can be
// named and are skipped up to the next valid key line. NUL bytes (a file filled with zeros by a
// crash) are dropped from their line, which counts as damaged.
REG_STORE ParseStore(const std::string& text)
{
    REG_STORE st;
    std::vector<std::string> lines;
    size_t p = 0;
    while (p <= text.size()) {
        size_t e = text.find('\n', p);
        std::string line = text.substr(p, e == std::string::npos ? std::string::npos : e - p);
        if (line.find('\0') != std::string::npos) {
            st.bDamaged = true;
            line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (e == std::string::npos) break;
        p = e + 1;
    }
    size_t n = 0;
    while (n < lines.size() && lines[n].empty()) n++;
    if (n >= lines.size()) return st;
    if (lines[n] == "REGEDIT4") n++;
    else st.bDamaged = true;   // read on: the lines below may still be valid
    REG_KEY* pKey = nullptr;
    for (; n < lines.size(); n++) {
        const std::string& line = lines[n];
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            pKey = nullptr;
            if (line.size() < 3 || line.back() != ']' || line[1] == '-') {
                st.bDamaged = true;
                continue;
            }
            std::string strPath = line.substr(1, line.size() - 2);
            for (REG_KEY& k : st.keys)
                if (EqualNoCase(k.strPath, strPath)) pKey = &k;
            if (!pKey) {
                st.keys.push_back(REG_KEY{strPath, {}});
                pKey = &st.keys.back();
            }
            continue;
        }
        REG_VALUE v;
        size_t i = 0;
        if (line[0] == '@') {
            i = 1;
        } else if (!ParseQuoted(line, &i, &v.strName) || v.strName.empty()) {
            st.bDamaged = true;
            continue;
        }
        if (!pKey || i >= line.size() || line[i] != '=' || !ParseData(lines, &n, line.substr(i + 1), &v)) {
            st.bDamaged = true;
            continue;
        }
        bool bReplaced = false;
        for (REG_VALUE& old : pKey->values)
            if (EqualNoCase(old.strName, v.strName)) old = v, bReplaced = true;
        if (!bReplaced) pKey->values.push_back(v);
    }
    return st;
}

bool ReadWhole(const std::string& strPath, std::string* pText)
{
    FILE* f = fopen(strPath.c_str(), "rbe");
    if (!f) return false;
    pText->clear();
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) pText->append(buf, n);
    const bool bOk = !ferror(f);
    fclose(f);
    if (!bOk) errno = EIO;
    return bOk;
}

// A store that could not be read whole is kept beside it, byte for byte, before anything rewrites
// it: as "<store>.damaged", or, when that holds another damaged store, the first free of
// "<store>.damaged.1" .. ".9". A copy already holding these bytes is not made again. The copy goes
// through the same whole-file writer as the store. True when the bytes are kept (or were already);
// false when no copy could be written, and then the damaged store must not be rewritten.
bool KeepDamagedCopy(const std::string& strPath, const std::string& text)
{
    enum { KEPT_COPIES = 10 };
    for (int k = 0; k < KEPT_COPIES; k++) {
        const std::string strKeep = strPath + ".damaged" + (k ? "." + std::to_string(k) : std::string());
        std::string old;
        if (ReadWhole(strKeep, &old)) {
            if (old == text) return true;
            continue;
        }
        if (errno != ENOENT) continue;
        return PlatWriteNativeFileAtomic(strKeep, text.data(), text.size(), 0600) == 0;
    }
    errno = ENOSPC;   // every name holds another damaged store
    return false;
}

REG_STORE LoadStore(void)
{
    REG_STORE st;
    const std::string strPath = StorePath();
    std::string text;
    if (!ReadWhole(strPath, &text)) return st;
    st = ParseStore(text);
    st.bExists = true;
    if (st.bDamaged && !KeepDamagedCopy(strPath, text)) {
        st.bCopyFailed = true;
        st.nCopyError = errno ? errno : EIO;
    }
    return st;
}

// True when a text can be written between quotes and read back as it is: one line and no NUL. A
// lead byte at the end is written escaped (Quote), so the closing quote stays a quote.
bool Quotable(const std::string& s)
{
    return s.find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

// A key path that a "[path]" line gives back.
bool StorableKeyPath(const std::string& s)
{
    return !s.empty() && s[0] != '-' && s.find_first_of("\r\n") == std::string::npos;
}

// The quoted form that ParseQuoted gives back byte for byte: a lead byte goes out with the byte
// after it as one character (ParseQuoted reads the pair whatever the second byte is); a lead byte
// without a byte after it, which a name or text can hold through an escape in the file, is escaped
// like '\\' and '"', or it would take the closing quote as its trail byte.
std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (size_t i = 0; i < s.size(); i++) {
        unsigned char c = (unsigned char)s[i];
        if (IsLeadByte(c) && i + 1 < s.size()) {
            out.push_back((char)c);
            out.push_back(s[++i]);
            continue;
        }
        if (IsLeadByte(c)) {
            out.push_back('\\');
            out.push_back((char)c);
            continue;
        }
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back((char)c);
    }
    return out + "\"";
}

std::string Format(const REG_STORE& st)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out = "REGEDIT4\r\n";
    for (const REG_KEY& k : st.keys) {
        out += "\r\n[" + k.strPath + "]\r\n";
        for (const REG_VALUE& v : k.values) {
            out += v.strName.empty() ? std::string("@") : Quote(v.strName);
            out += "=";
            if (v.nType == PLAT_REG_SZ && Quotable(v.data)) {
                out += Quote(v.data);
            } else if (v.nType == PLAT_REG_DWORD && v.data.size() == 4) {
                uint32_t x = 0;
                for (int b = 3; b >= 0; b--) x = x * 256 + (unsigned char)v.data[b];
                char sz[16];
                snprintf(sz, sizeof sz, "dword:%08x", x);
                out += sz;
            } else {
                if (v.nType == PLAT_REG_BINARY) {
                    out += "hex:";
                } else {
                    char sz[16];
                    snprintf(sz, sizeof sz, "hex(%x):", (unsigned)v.nType);
                    out += sz;
                }
                for (size_t i = 0; i < v.data.size(); i++) {
                    if (i) out += ",";
                    out.push_back(kHex[(unsigned char)v.data[i] >> 4]);
                    out.push_back(kHex[(unsigned char)v.data[i] & 15]);
                }
            }
            out += "\r\n";
        }
    }
    return out;
}

int MakeParents(const std::string& strPath)
{
    for (size_t i = 1; i < strPath.size(); i++) {
        if (strPath[i] != '/') continue;
        std::string strDir = strPath.substr(0, i);
        if (mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    }
    return 0;
}

// Rewrites the store whole. 0, or -2 with errno when it cannot be written (the store as it was).
int SaveStore(const REG_STORE& st)
{
    if (st.bCopyFailed) {
        errno = st.nCopyError;
        return -2;
    }
    const std::string strPath = StorePath();
    if (MakeParents(strPath) != 0) return -2;
    const std::string text = Format(st);
    return PlatWriteNativeFileAtomic(strPath, text.data(), text.size(), 0600) == 0 ? 0 : -2;
}

REG_KEY* FindKey(REG_STORE& st, const std::string& strPath)
{
    for (REG_KEY& k : st.keys)
        if (EqualNoCase(k.strPath, strPath)) return &k;
    return nullptr;
}

bool HasKeyBelow(const REG_STORE& st, const std::string& strPath)
{
    const std::string strPrefix = strPath + "\\";
    for (const REG_KEY& k : st.keys)
        if (k.strPath.size() > strPrefix.size() && EqualNoCase(k.strPath.substr(0, strPrefix.size()), strPrefix))
            return true;
    return false;
}

REG_VALUE* FindValue(REG_KEY* pKey, const char* pszName)
{
    const std::string strName = pszName ? pszName : "";
    for (REG_VALUE& v : pKey->values)
        if (EqualNoCase(v.strName, strName)) return &v;
    return nullptr;
}

}  // namespace

int PlatRegKeyExists(const char* pszRoot, const char* pszSubkey)
{
    std::lock_guard<std::mutex> lock(g_mxRegistry);
    REG_STORE st = LoadStore();
    const std::string strPath = KeyPath(pszRoot, pszSubkey);
    return FindKey(st, strPath) || HasKeyBelow(st, strPath) ? 1 : 0;
}

int PlatRegQueryValue(const char* pszRoot, const char* pszSubkey, const char* pszName, void* pBuf, size_t cap,
                      size_t* pnSize, int* pnType)
{
    std::lock_guard<std::mutex> lock(g_mxRegistry);
    REG_STORE st = LoadStore();
    REG_KEY* pKey = FindKey(st, KeyPath(pszRoot, pszSubkey));
    REG_VALUE* pVal = pKey ? FindValue(pKey, pszName) : nullptr;
    if (!pVal) return -1;
    std::string data = pVal->data;
    if (pVal->nType == PLAT_REG_SZ) data.push_back('\0');
    if (pnSize) *pnSize = data.size();
    if (pnType) *pnType = pVal->nType;
    if (data.size() > cap) return -2;
    if (!data.empty()) memcpy(pBuf, data.data(), data.size());
    return 0;
}

int PlatRegSetValue(const char* pszRoot, const char* pszSubkey, const char* pszName, int nType, const void* pData,
                    size_t n)
{
    std::lock_guard<std::mutex> lock(g_mxRegistry);
    const std::string strPath = KeyPath(pszRoot, pszSubkey);
    const std::string strName = pszName ? pszName : "";
    // A key or value name that the store's lines cannot give back is refused.
    if (!StorableKeyPath(strPath) || !Quotable(strName)) return -1;
    REG_STORE st = LoadStore();
    REG_KEY* pKey = FindKey(st, strPath);
    if (!pKey) {
        st.keys.push_back(REG_KEY{strPath, {}});
        pKey = &st.keys.back();
    }
    REG_VALUE v{strName, nType, std::string(static_cast<const char*>(pData), n)};
    if (nType == PLAT_REG_SZ) {
        size_t z = v.data.find('\0');
        if (z != std::string::npos) v.data.resize(z);
    }
    if (REG_VALUE* pOld = FindValue(pKey, pszName))
        *pOld = v;
    else
        pKey->values.push_back(v);
    return SaveStore(st);
}

int PlatRegDeleteValue(const char* pszRoot, const char* pszSubkey, const char* pszName)
{
    std::lock_guard<std::mutex> lock(g_mxRegistry);
    REG_STORE st = LoadStore();
    REG_KEY* pKey = FindKey(st, KeyPath(pszRoot, pszSubkey));
    REG_VALUE* pVal = pKey ? FindValue(pKey, pszName) : nullptr;
    if (!pVal) return -1;
    pKey->values.erase(pKey->values.begin() + (pVal - pKey->values.data()));
    return SaveStore(st);
}

int PlatRegDeleteKey(const char* pszRoot, const char* pszSubkey)
{
    std::lock_guard<std::mutex> lock(g_mxRegistry);
    REG_STORE st = LoadStore();
    const std::string strPath = KeyPath(pszRoot, pszSubkey);
    REG_KEY* pKey = FindKey(st, strPath);
    if (!pKey || HasKeyBelow(st, strPath)) return -1;
    st.keys.erase(st.keys.begin() + (pKey - st.keys.data()));
    return SaveStore(st);
}

std::string PlatGetRegistryPath(void)
{
    std::lock_guard<std::mutex> lock(g_mxRegistry);
    return StorePath();
}

void PlatSetRegistryPathForTest(const char* pszNative)
{
    std::lock_guard<std::mutex> lock(g_mxRegistry);
    g_strTestPath = pszNative ? pszNative : "";
}

std::string PlatRegRewriteForTest(const std::string& strText)
{
    return Format(ParseStore(strText));
}

std::string PlatRegListForTest(const std::string& strText)
{
    static const char kHex[] = "0123456789abcdef";
    auto hex = [](const std::string& s) {
        std::string out;
        for (unsigned char c : s) {
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
        return out;
    };
    std::string out;
    for (const REG_KEY& k : ParseStore(strText).keys) {
        out += "[" + hex(k.strPath) + "]\n";
        for (const REG_VALUE& v : k.values)
            out += hex(v.strName) + " " + std::to_string(v.nType) + " " + hex(v.data) + "\n";
    }
    return out;
}
