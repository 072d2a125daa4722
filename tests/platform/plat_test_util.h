// Helpers for the platform tests: a temporary folder, native file writers and stderr capture.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

inline int RemoveTreeEntry(const char* pszPath, const struct stat*, int, struct FTW*)
{
    return remove(pszPath);
}

// A fresh folder under $TMPDIR (or /tmp) with its real path; removed with everything in it.
inline std::string MakeTempFolder(void)
{
    const char* pszTmp = getenv("TMPDIR");
    std::string strTemplate = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/kxplat-XXXXXX";
    if (!mkdtemp(&strTemplate[0])) return std::string();
    char* pszReal = realpath(strTemplate.c_str(), nullptr);
    std::string strReal = pszReal ? pszReal : strTemplate;
    free(pszReal);
    return strReal;
}

inline void RemoveTree(const std::string& strPath)
{
    if (!strPath.empty()) nftw(strPath.c_str(), RemoveTreeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

inline void WriteNativeFile(const std::string& strPath, const std::string& strData)
{
    FILE* fp = fopen(strPath.c_str(), "wb");
    ASSERT_NE(fp, nullptr) << strPath;
    fwrite(strData.data(), 1, strData.size(), fp);
    fclose(fp);
}

inline std::string ReadNativeFile(const std::string& strPath)
{
    std::string s;
    FILE* fp = fopen(strPath.c_str(), "rb");
    if (!fp) return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0) s.append(buf, n);
    fclose(fp);
    return s;
}

// The engine form of an ASCII native path: '/' becomes '\'.
inline std::string EngineForm(std::string s)
{
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

// A fixture with its own temporary folder; the current folder is restored afterwards.
class TempFolderTest : public ::testing::Test {
protected:
    std::string m_strDir;
    std::string m_strOldCwd;
    void SetUp() override
    {
        char* pszCwd = getcwd(nullptr, 0);
        m_strOldCwd = pszCwd ? pszCwd : "/";
        free(pszCwd);
        m_strDir = MakeTempFolder();
        ASSERT_FALSE(m_strDir.empty());
    }
    void TearDown() override
    {
        if (chdir(m_strOldCwd.c_str()) != 0) ADD_FAILURE() << "cannot return to " << m_strOldCwd;
        RemoveTree(m_strDir);
    }
    std::string Native(const std::string& strRel) const { return m_strDir + "/" + strRel; }
    std::string Engine(const std::string& strRelCp932) const { return EngineForm(m_strDir) + "\\" + strRelCp932; }
};

// Collects what is written to stderr between Begin and End.
struct STDERR_CAPTURE {
    int fdSaved;
    FILE* fpTemp;
};

inline void BeginStderrCapture(STDERR_CAPTURE* pCap)
{
    fflush(stderr);
    pCap->fpTemp = tmpfile();
    pCap->fdSaved = dup(2);
    dup2(fileno(pCap->fpTemp), 2);
}

inline std::string EndStderrCapture(STDERR_CAPTURE* pCap)
{
    fflush(stderr);
    dup2(pCap->fdSaved, 2);
    close(pCap->fdSaved);
    std::string s;
    rewind(pCap->fpTemp);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pCap->fpTemp)) > 0) s.append(buf, n);
    fclose(pCap->fpTemp);
    return s;
}
