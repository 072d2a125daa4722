// The registry store: a REGEDIT4 text file read whole at every call and rewritten whole on every
// change. The file is small and rarely touched; reading it each time also sees edits made by hand
// or by another copy of the engine.
#include "platform/plat_registry.h"

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
        } else if (((unsigned char)c >= 0x81 && (unsigned char)c <= 0x9F) ||
                   ((unsigned char)c >= 0xE0 && (unsigned char)c <= 0xFC)) {
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
        int n = 0;
        for (size_t k = 4; k < close; k++) {
            int d = HexDigit(s[k]);
            if (d < 0) return false;
            n = n * 16 + d;
        }
        pVal->nType = n;
        i = close + 2;
    } else {
        return false;
    }
    pVal->data.clear();
    std::string strBytes = s.substr(i);
    // A line ending in '\' continues on the next one.
    while (!strBytes.empty() && strBytes.back() == '\\') {
        strBytes.pop_back();
        if (*pLine + 1 >= lines.size()) return false;
        ++*pLine;
        const std::string& next = lines[*pLine];
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
    return true;
}

REG_STORE ParseStore(const std::string& text)
{
    REG_STORE st;
    std::vector<std::string> lines;
    size_t p = 0;
    while (p <= text.size()) {
        size_t e = text.find('\n', p);
        std::string line = text.substr(p, e == std::string::npos ? std::string::npos : e - p);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (e == std::string::npos) break;
        p = e + 1;
    }
    size_t n = 0;
    while (n < lines.size() && lines[n].empty()) n++;
    if (n >= lines.size()) return st;
    if (lines[n] != "REGEDIT4") {
        st.bDamaged = true;
        return st;
    }
    REG_KEY* pKey = nullptr;
    for (n++; n < lines.size(); n++) {
        const std::string& line = lines[n];
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.size() < 3 || line.back() != ']' || line[1] == '-') {
                st.bDamaged = true;
                return st;
            }
            std::string strPath = line.substr(1, line.size() - 2);
            pKey = nullptr;
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
            return st;
        }
        if (!pKey || i >= line.size() || line[i] != '=' || !ParseData(lines, &n, line.substr(i + 1), &v)) {
            st.bDamaged = true;
            return st;
        }
        bool bReplaced = false;
        for (REG_VALUE& old : pKey->values)
            if (EqualNoCase(old.strName, v.strName)) old = v, bReplaced = true;
        if (!bReplaced) pKey->values.push_back(v);
    }
    return st;
}

REG_STORE LoadStore(void)
{
    REG_STORE st;
    FILE* f = fopen(StorePath().c_str(), "rb");
    if (!f) return st;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    // A NUL byte can only come from damage: the text ends before it.
    size_t z = text.find('\0');
    bool bCut = z != std::string::npos;
    if (bCut) text.resize(z);
    st = ParseStore(text);
    st.bExists = true;
    if (bCut) st.bDamaged = true;
    return st;
}

std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (size_t i = 0; i < s.size(); i++) {
        unsigned char c = (unsigned char)s[i];
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            out.push_back((char)c);
            if (i + 1 < s.size()) out.push_back(s[++i]);
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
            if (v.nType == PLAT_REG_SZ) {
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
                    snprintf(sz, sizeof sz, "hex(%x):", v.nType);
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

int SaveStore(const REG_STORE& st)
{
    const std::string strPath = StorePath();
    if (MakeParents(strPath) != 0) return -1;
    if (st.bDamaged) {
        // Keep what could not be read, once.
        std::string strKeep = strPath + ".damaged";
        struct stat sb;
        if (stat(strKeep.c_str(), &sb) != 0) {
            FILE* in = fopen(strPath.c_str(), "rb");
            FILE* out = in ? fopen(strKeep.c_str(), "wb") : nullptr;
            char buf[65536];
            size_t n;
            while (in && out && (n = fread(buf, 1, sizeof buf, in)) > 0) fwrite(buf, 1, n, out);
            if (out) fclose(out);
            if (in) fclose(in);
        }
    }
    const std::string text = Format(st);
    std::string strTemp = strPath + ".tmp" + std::to_string((long)getpid());
    int fd = open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t w = write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += (size_t)w;
    }
    bool bOk = done == text.size() && fsync(fd) == 0;
    if (close(fd) != 0) bOk = false;
    if (!bOk || rename(strTemp.c_str(), strPath.c_str()) != 0) {
        unlink(strTemp.c_str());
        return -1;
    }
    return 0;
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
    REG_STORE st = LoadStore();
    const std::string strPath = KeyPath(pszRoot, pszSubkey);
    REG_KEY* pKey = FindKey(st, strPath);
    if (!pKey) {
        st.keys.push_back(REG_KEY{strPath, {}});
        pKey = &st.keys.back();
    }
    REG_VALUE v{pszName ? pszName : "", nType, std::string(static_cast<const char*>(pData), n)};
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
