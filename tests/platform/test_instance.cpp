// Named mutexes over lock files and activation of the running copy.
#include "platform/plat_instance.h"
#include "tests/platform/plat_test_util.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

// Abstract sockets are shared by the whole machine, so every name carries this process's id.
std::string UniqueName(const char* pszBase)
{
    return std::string(pszBase) + ":" + std::to_string(getpid());
}

class PlatInstanceTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        PlatSetInstanceDirForTest(m_strDir.c_str());
    }
    void TearDown() override
    {
        PlatStopListening();
        PlatSetInstanceDirForTest(nullptr);
        TempFolderTest::TearDown();
    }
};

TEST(PlatInstance, MurmurHash2Vectors)
{
    EXPECT_EQ(PlatMurmurHash2("SYSTEM_START", 12, 0), 0x674E0092u);
    // Tail bytes above 0x7F are read unsigned (a cp932 lead byte at the end).
    const unsigned char abTail[] = {0x61, 0x62, 0x63, 0x64, 0x83};
    const uint32_t m = 0x5bd1e995u;
    uint32_t k = 0x64636261u * m;
    k ^= k >> 24;
    k *= m;
    uint32_t h = (0u ^ 5u) * m ^ k;
    h ^= 0x83u;
    h *= m;
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    EXPECT_EQ(PlatMurmurHash2(abTail, 5, 0), h);
}

TEST_F(PlatInstanceTest, LockFileIsNamedAfterTheHash)
{
    int bExists = -1;
    PLAT_MUTEX* p = PlatCreateNamedMutex("SYSTEM_START", &bExists);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(bExists, 0);
    struct stat st;
    EXPECT_EQ(stat(Native("kolvex-674e0092.lock").c_str(), &st), 0);
    PlatReleaseNamedMutex(p);
}

TEST_F(PlatInstanceTest, SecondCreateSeesItHeldUntilReleased)
{
    // A path-derived name: cp932 bytes and ':' in place of '\'.
    const char* pszName = "c::games:\x83\x5c\x83\x74\x83\x67:game.exe";
    int bExists = -1;
    PLAT_MUTEX* pFirst = PlatCreateNamedMutex(pszName, &bExists);
    ASSERT_NE(pFirst, nullptr);
    EXPECT_EQ(bExists, 0);

    PLAT_MUTEX* pSecond = PlatCreateNamedMutex(pszName, &bExists);
    ASSERT_NE(pSecond, nullptr);
    EXPECT_EQ(bExists, 1);
    // A handle that owns nothing releases nothing.
    PlatReleaseNamedMutex(pSecond);
    PLAT_MUTEX* pThird = PlatCreateNamedMutex(pszName, &bExists);
    ASSERT_NE(pThird, nullptr);
    EXPECT_EQ(bExists, 1);
    PlatReleaseNamedMutex(pThird);

    // Another name is independent.
    PLAT_MUTEX* pOther = PlatCreateNamedMutex("kolvex1", &bExists);
    ASSERT_NE(pOther, nullptr);
    EXPECT_EQ(bExists, 0);

    PlatReleaseNamedMutex(pFirst);
    PLAT_MUTEX* pAgain = PlatCreateNamedMutex(pszName, &bExists);
    ASSERT_NE(pAgain, nullptr);
    EXPECT_EQ(bExists, 0);
    PlatReleaseNamedMutex(pAgain);
    PlatReleaseNamedMutex(pOther);
    PlatReleaseNamedMutex(nullptr);
}

TEST_F(PlatInstanceTest, HeldByAnotherProcessUntilItEnds)
{
    int aToChild[2], aToParent[2];
    ASSERT_EQ(pipe(aToChild), 0);
    ASSERT_EQ(pipe(aToParent), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int bExists = -1;
        PLAT_MUTEX* p = PlatCreateNamedMutex("kolvex1", &bExists);
        char c = (p && bExists == 0) ? 'y' : 'n';
        if (write(aToParent[1], &c, 1) != 1) _exit(2);
        if (read(aToChild[0], &c, 1) != 1) _exit(3);
        _exit(0);   // the lock ends with the process, without a release
    }
    char c = 0;
    ASSERT_EQ(read(aToParent[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');

    int bExists = -1;
    PLAT_MUTEX* pWhileHeld = PlatCreateNamedMutex("kolvex1", &bExists);
    ASSERT_NE(pWhileHeld, nullptr);
    EXPECT_EQ(bExists, 1);
    PlatReleaseNamedMutex(pWhileHeld);

    ASSERT_EQ(write(aToChild[1], "x", 1), 1);
    int nStatus = 0;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    for (int fd : {aToChild[0], aToChild[1], aToParent[0], aToParent[1]}) close(fd);

    PLAT_MUTEX* pAfter = PlatCreateNamedMutex("kolvex1", &bExists);
    ASSERT_NE(pAfter, nullptr);
    EXPECT_EQ(bExists, 0);
    PlatReleaseNamedMutex(pAfter);
}

TEST_F(PlatInstanceTest, TheOwnerRemovesItsLockFileAndAStaleOneIsTakenOver)
{
    struct stat st;
    const std::string strLock = Native("kolvex-674e0092.lock");
    int bExists = -1;
    PLAT_MUTEX* pOwner = PlatCreateNamedMutex("SYSTEM_START", &bExists);
    ASSERT_NE(pOwner, nullptr);
    ASSERT_EQ(bExists, 0);
    // A handle that only found it held removes nothing.
    PLAT_MUTEX* pLoser = PlatCreateNamedMutex("SYSTEM_START", &bExists);
    ASSERT_NE(pLoser, nullptr);
    EXPECT_EQ(bExists, 1);
    PlatReleaseNamedMutex(pLoser);
    EXPECT_EQ(stat(strLock.c_str(), &st), 0);
    PlatReleaseNamedMutex(pOwner);
    EXPECT_NE(stat(strLock.c_str(), &st), 0);

    // The file of a copy that crashed (no lock on it) is taken over, then removed: never a second one.
    const int fd = open(strLock.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    PLAT_MUTEX* pNext = PlatCreateNamedMutex("SYSTEM_START", &bExists);
    ASSERT_NE(pNext, nullptr);
    EXPECT_EQ(bExists, 0);
    size_t nFiles = 0;
    for (const auto& e : std::filesystem::directory_iterator(m_strDir)) nFiles += e.path().extension() == ".lock";
    EXPECT_EQ(nFiles, 1u);
    PlatReleaseNamedMutex(pNext);
    EXPECT_NE(stat(strLock.c_str(), &st), 0);
}

TEST_F(PlatInstanceTest, UnusableFolderGivesNull)
{
    PlatSetInstanceDirForTest(Native("missing").c_str());
    int bExists = -1;
    EXPECT_EQ(PlatCreateNamedMutex("kolvex1", &bExists), nullptr);
    EXPECT_EQ(bExists, 0);
}

void CountActivation(void* pUser)
{
    (*(int*)pUser)++;
}

TEST_F(PlatInstanceTest, ActivationRoundTrip)
{
    std::string strName = UniqueName("c::game:a.exe");
    std::string strOther = UniqueName("c::game:b.exe");
    int nCalls = 0;
    ASSERT_EQ(PlatListenForActivation(strName.c_str(), CountActivation, &nCalls), 0);
    PlatPollActivation();
    EXPECT_EQ(nCalls, 0);

    EXPECT_EQ(PlatRequestActivation(strName.c_str()), 0);
    EXPECT_EQ(nCalls, 0);   // nothing happens before the main loop polls
    PlatPollActivation();
    EXPECT_EQ(nCalls, 1);
    PlatPollActivation();
    EXPECT_EQ(nCalls, 1);

    EXPECT_EQ(PlatRequestActivation(strName.c_str()), 0);
    EXPECT_EQ(PlatRequestActivation(strName.c_str()), 0);
    PlatPollActivation();
    EXPECT_EQ(nCalls, 3);

    // Another name reaches nobody and does not touch this listener.
    EXPECT_EQ(PlatRequestActivation(strOther.c_str()), -1);
    PlatPollActivation();
    EXPECT_EQ(nCalls, 3);

    PlatStopListening();
    EXPECT_EQ(PlatRequestActivation(strName.c_str()), -1);
    PlatPollActivation();   // harmless when not listening
    EXPECT_EQ(nCalls, 3);
}

TEST_F(PlatInstanceTest, SecondListenerOfTheSameNameIsRefused)
{
    std::string strName = UniqueName("c::game:a.exe");
    int nCalls = 0;
    int aToParent[2], aToChild[2];
    ASSERT_EQ(pipe(aToParent), 0);
    ASSERT_EQ(pipe(aToChild), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The running copy: listens, then answers one request.
        int nChildCalls = 0;
        char c = PlatListenForActivation(strName.c_str(), CountActivation, &nChildCalls) == 0 ? 'y' : 'n';
        if (write(aToParent[1], &c, 1) != 1) _exit(2);
        if (read(aToChild[0], &c, 1) != 1) _exit(3);
        PlatPollActivation();
        _exit(nChildCalls == 1 ? 0 : 4);
    }
    char c = 0;
    ASSERT_EQ(read(aToParent[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    EXPECT_EQ(PlatListenForActivation(strName.c_str(), CountActivation, &nCalls), -1);
    EXPECT_EQ(PlatRequestActivation(strName.c_str()), 0);
    ASSERT_EQ(write(aToChild[1], "x", 1), 1);
    int nStatus = 0;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << nStatus;
    for (int fd : {aToChild[0], aToChild[1], aToParent[0], aToParent[1]}) close(fd);
    EXPECT_EQ(nCalls, 0);
    // Once the running copy has ended, the name is free again.
    EXPECT_EQ(PlatRequestActivation(strName.c_str()), -1);
    EXPECT_EQ(PlatListenForActivation(strName.c_str(), CountActivation, &nCalls), 0);
}

}  // namespace
