// Object trees: path normalisation, the child index, sibling order, lookups and the four trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_hash.h"
#include "core/object_tree.h"
#include "script/dispatch.h"
#include "tests/support/test_support.h"

namespace {

void FreeSubtree(TREE_NODE* pNode)
{
    if (!pNode)
        return;
    TREE_NODE* pChild = pNode->pFirstChild;
    while (pChild) {
        TREE_NODE* pNext = pChild->pNext;
        FreeSubtree(pChild);
        pChild = pNext;
    }
    RemoveNode(pNode);
    FreeTreeNode(pNode);
}

class TreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pRoot = CreateRootNode();
        ASSERT_NE(pRoot, nullptr);
    }
    void TearDown() override { FreeSubtree(pRoot); }
    std::vector<int> Ids() const
    {
        std::vector<int> ids;
        for (const ERROR_RECORD& r : errors.reports)
            ids.push_back(r.nId);
        return ids;
    }
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    std::vector<ERROR_RECORD>& reports = errors.reports;
    TREE_NODE* pRoot = nullptr;
};

using ObjectPathTest = TreeTest;

// cp932 bytes: "ソ" 83 5C and "表" 95 5C end in the byte of '\'; 0x83 alone is a lead byte.
#define SO "\x83\x5C"
#define HYO "\x95\x5C"

TEST_F(ObjectPathTest, NormalizesRelativeAbsoluteDotsAndGroups)
{
    struct CASE {
        const char* pszName;
        const char* pszCur;
        const char* pszOut;
        int nResult;
    } cases[] = {
        {"bg", "W0", "W0/bg", 0},
        {"bg", "", "bg", 0},
        {"../x/", "W0/a", "W0/x", 1},
        {":sys/x", "W0", "sys/x", 0},
        {":/sys", "W0", "sys", 0},
        {"./q", "W0", "W0/q", 0},
        {"/q", "W0", "W0/q", 0},
        {"../x", "", "x", 0},
        {":a/../b", "W0", "b", 0},
        {":W0/../", "W0", "", 0},
        {"grp/", "W0", "W0/grp", 1},
        {"grp//", "W0", "W0/grp/", 1},
        {"a//../b", "W0", "W0/b", 0},
        {"../../x", "W0/a/b", "W0/x", 0},
        {"a/.", "W0", "W0/a/.", 0},
        {"a/..", "W0", "W0/a/..", 0},
        // A layer name with a dot and its order number is an ordinary component.
        {"bg.5", "W0", "W0/bg.5", 0},
        {"g/bg.12", "W0", "W0/g/bg.12", 0},
        // Double-byte names: the trail byte 0x5C is part of the character.
        {SO "/" HYO, "W0", "W0/" SO "/" HYO, 0},
        {"../" SO "/", "W0/" HYO, "W0/" SO, 1},
        {":" HYO "/../" SO, "", SO, 0},
        // A lead byte before the terminator ends the walk.
        {"a/\x83", "W0", "W0/a/\x83", 0},
    };
    for (const CASE& c : cases) {
        char szOut[KX_MAX_OBJECT_PATH];
        memset(szOut, 'Z', sizeof(szOut));
        int nResult = NormalizeObjectPath(szOut, c.pszName, c.pszCur, 0);
        EXPECT_EQ(nResult, c.nResult) << c.pszName << " in " << c.pszCur;
        EXPECT_STREQ(szOut, c.pszOut) << c.pszName << " in " << c.pszCur;
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(ObjectPathTest, SpaceInComponentIsRefusedUnlessAllowed)
{
    char szOut[KX_MAX_OBJECT_PATH];
    EXPECT_EQ(NormalizeObjectPath(szOut, "my bg/x", "W0", 1), 0);
    EXPECT_STREQ(szOut, "W0/my bg/x");
    EXPECT_TRUE(reports.empty());

    EXPECT_EQ(NormalizeObjectPath(szOut, "my bg/x", "W0", 0), -1);
    EXPECT_STREQ(szOut, "");
    EXPECT_EQ(Ids(), std::vector<int>{KX_ERR_SPACE_IN_PATH});
    EXPECT_EQ(reports[0].bFatal, 1);
    EXPECT_EQ(g_bEngineStop, 1);
}

TEST_F(ObjectPathTest, ResultLongerThanBufferIsRefused)
{
    char szOut[KX_MAX_OBJECT_PATH];
    // "W0/" + 252 bytes is the longest path that fits with its terminator.
    std::string fits(KX_MAX_OBJECT_PATH - 4, 'a');
    EXPECT_EQ(NormalizeObjectPath(szOut, fits.c_str(), "W0", 0), 0);
    EXPECT_EQ(strlen(szOut), size_t(KX_MAX_OBJECT_PATH - 1));
    EXPECT_EQ(NormalizeObjectPath(szOut, (fits + "/x/../").c_str(), "W0", 0), 1);
    EXPECT_EQ(strlen(szOut), size_t(KX_MAX_OBJECT_PATH - 1));
    EXPECT_TRUE(reports.empty());

    std::string longer = fits + "a";
    struct {
        std::string name;
        const char* pszCur;
    } refused[] = {
        {longer, "W0"},                  // plain name
        {longer + "/", "W0"},            // group path
        {":" + longer + "/b/..", ""},    // components kept
    };
    for (const auto& c : refused) {
        reports.clear();
        EXPECT_EQ(NormalizeObjectPath(szOut, c.name.c_str(), c.pszCur, 0), -1) << c.name;
        EXPECT_STREQ(szOut, "");
        ASSERT_EQ(Ids(), std::vector<int>{KX_ERR_PATH_TOO_LONG});
        EXPECT_EQ(reports[0].bFatal, 1);
        EXPECT_NE(reports[0].strText.find(longer), std::string::npos);
    }

    // Only the result counts: a long text that resolves to a short path is fine.
    reports.clear();
    std::string detour = ":" + std::string(1000, 'q') + "/../W0/bg";
    EXPECT_EQ(NormalizeObjectPath(szOut, detour.c_str(), "", 0), 0);
    EXPECT_STREQ(szOut, "W0/bg");
    EXPECT_TRUE(reports.empty());
}

// ---------------------------------------------------------------------------------------------

TEST_F(TreeTest, LookupModesChooseByKindAndOrder)
{
    TREE_NODE* pG = CreateNode(pRoot, "g", 1, 10);
    TREE_NODE* pA1 = CreateNode(pRoot, "g/a", 0, 1);
    TREE_NODE* pA2 = CreateNode(pRoot, "g/a", 0, 5);
    TREE_NODE* pAGroup = CreateNode(pRoot, "g/a", 1, 3);
    TREE_NODE* pDeep = CreateNode(pRoot, "g/a/" SO, 0, 1);
    ASSERT_TRUE(pG && pA1 && pA2 && pAGroup && pDeep);

    // Sibling order: a1 (1), a-group (3), a2 (5).
    EXPECT_EQ(FindNodeByPath(pRoot, "g/a", KX_FIND_LEAF), pA2);   // last inserted leaf
    EXPECT_EQ(FindNodeByPath(pRoot, "g/a", KX_FIND_GROUP), pAGroup);
    EXPECT_EQ(FindNodeByPath(pRoot, "g/a", KX_FIND_ANY), pA1);    // first in sibling order
    EXPECT_EQ(FindNodeByPath(pRoot, "g", KX_FIND_LEAF), nullptr);
    EXPECT_EQ(FindNodeByPath(pRoot, "g", KX_FIND_GROUP), pG);
    EXPECT_EQ(FindNodeByPath(pRoot, "g/a/" SO, KX_FIND_LEAF), pDeep);
    EXPECT_EQ(FindNodeByPath(pRoot, "g/a/" HYO, KX_FIND_ANY), nullptr);
    EXPECT_EQ(FindChildNode(pG, "a", 1), pAGroup);

    // Missing groups on the way, childless groups and leaves as parents find nothing, silently.
    TREE_NODE* pEmpty = CreateNode(pRoot, "empty", 1, 1);
    ASSERT_NE(pEmpty, nullptr);
    for (int nMode = 0; nMode < 3; ++nMode) {
        EXPECT_EQ(FindNodeByPath(pRoot, "empty/x", nMode), nullptr);
        EXPECT_EQ(FindNodeByPath(pRoot, "nothing/x", nMode), nullptr);
        EXPECT_EQ(FindNodeByPath(pRoot, "g/a/" SO "/x", nMode), nullptr);
    }
    EXPECT_TRUE(reports.empty());
}

// Leaves whose keys fall in the first and in the last leaf bucket, and names whose full hash has
// bit 31 set, are found through the index.
TEST_F(TreeTest, LeafLookupCoversEdgeBuckets)
{
    std::string first, last, high;
    for (int i = 0; first.empty() || last.empty() || high.empty(); ++i) {
        std::string name = "n" + std::to_string(i);
        uint32_t h = HashName(name.c_str());
        uint32_t b = (h & KX_KEY_HASH_MASK) >> 24;
        if (b == 0 && first.empty())
            first = name;
        else if (b == 127 && last.empty())
            last = name;
        else if ((h & KX_KEY_GROUP) && high.empty())
            high = name;
    }
    for (const std::string& name : {first, last, high}) {
        // A group of the same name sorts into the group buckets and is never found as a leaf.
        ASSERT_NE(CreateNode(pRoot, name.c_str(), 1, 0), nullptr);
        EXPECT_EQ(FindNodeByPath(pRoot, name.c_str(), KX_FIND_LEAF), nullptr) << name;
        TREE_NODE* pLeaf = CreateNode(pRoot, name.c_str(), 0, 0);
        ASSERT_NE(pLeaf, nullptr);
        EXPECT_EQ(FindNodeByPath(pRoot, name.c_str(), KX_FIND_LEAF), pLeaf) << name;
    }
    EXPECT_EQ(FindNodeByPath(pRoot, "absent", KX_FIND_LEAF), nullptr);
}

TEST_F(TreeTest, CreateNodeReportsMissingPathAndGroup)
{
    EXPECT_EQ(CreateNode(pRoot, nullptr, 0, 1), nullptr);
    EXPECT_EQ(CreateNode(pRoot, "nogroup/x", 0, 1), nullptr);
    ASSERT_NE(CreateNode(pRoot, "leaf", 0, 1), nullptr);
    EXPECT_EQ(CreateNode(pRoot, "leaf/x", 0, 1), nullptr);   // a leaf holds no children
    EXPECT_EQ(Ids(), (std::vector<int>{KX_ERR_NODE_NO_PATH, KX_ERR_NO_SUCH_GROUP, KX_ERR_NO_SUCH_GROUP}));
    for (const ERROR_RECORD& r : reports)
        EXPECT_EQ(r.bFatal, 1);
    EXPECT_EQ(pRoot->nChildCount, 1);
}

TEST_F(TreeTest, ChildBeyondIndexCapacityIsRefused)
{
    TREE_NODE* pG = CreateNode(pRoot, "g", 1, 1);
    ASSERT_NE(pG, nullptr);
    std::vector<TREE_NODE*> nodes;
    for (int i = 0; i < KX_TREE_MAX_CHILDREN; ++i) {
        std::string path = "g/c" + std::to_string(i);
        nodes.push_back(CreateNode(pRoot, path.c_str(), uint8_t(i & 1), i));
        ASSERT_NE(nodes.back(), nullptr);
    }
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(CreateNode(pRoot, "g/one_more", 0, 0), nullptr);
    EXPECT_EQ(Ids(), std::vector<int>{KX_ERR_NO_MEMORY});
    EXPECT_EQ(reports[0].bFatal, 1);
    EXPECT_EQ(pG->nChildCount, KX_TREE_MAX_CHILDREN);
    EXPECT_EQ(pG->nIndexed, KX_TREE_MAX_CHILDREN);
    EXPECT_EQ(FindNodeByPath(pRoot, "g/c4094", KX_FIND_LEAF), nodes[4094]);
    EXPECT_EQ(FindNodeByPath(pRoot, "g/c4095", KX_FIND_GROUP), nodes[4095]);

    // Room again once a child has gone.
    RemoveNode(nodes[7]);
    FreeTreeNode(nodes[7]);
    EXPECT_NE(CreateNode(pRoot, "g/one_more", 0, 0), nullptr);
}

std::vector<std::string> SiblingNames(const TREE_NODE* pParent)
{
    std::vector<std::string> names;
    for (const TREE_NODE* p = pParent->pFirstChild; p; p = p->pNext)
        names.push_back(p->pszName);
    return names;
}

TEST_F(TreeTest, SiblingOrderFollowsKeyThenInsertion)
{
    TREE_NODE* pA = CreateNode(pRoot, "a", 0, 5);
    TREE_NODE* pB = CreateNode(pRoot, "b", 0, -3);
    TREE_NODE* pC = CreateNode(pRoot, "c", 0, 5);
    TREE_NODE* pD = CreateNode(pRoot, "d", 0, INT64_MIN);
    TREE_NODE* pE = CreateNode(pRoot, "e", 0, INT64_MAX);
    ASSERT_TRUE(pA && pB && pC && pD && pE);
    EXPECT_EQ(SiblingNames(pRoot), (std::vector<std::string>{"d", "b", "a", "c", "e"}));

    // Re-ordering to a sibling's key puts the node after that sibling.
    EXPECT_EQ(SetNodeOrder(pC, -3), 1);
    EXPECT_EQ(SiblingNames(pRoot), (std::vector<std::string>{"d", "b", "c", "a", "e"}));
    EXPECT_EQ(SetNodeOrder(pB, -3), 1);
    EXPECT_EQ(SiblingNames(pRoot), (std::vector<std::string>{"d", "c", "b", "a", "e"}));

    EXPECT_EQ(SwapNodeOrder(pD, pE), 1);
    EXPECT_EQ(pD->llOrder, INT64_MAX);
    EXPECT_EQ(pE->llOrder, INT64_MIN);
    EXPECT_EQ(SiblingNames(pRoot), (std::vector<std::string>{"e", "c", "b", "a", "d"}));

    EXPECT_EQ(SetNodeOrder(nullptr, 1), 0);
    EXPECT_EQ(SetNodeOrder(pRoot, 1), 0);
    EXPECT_EQ(SwapNodeOrder(pA, nullptr), 0);

    EXPECT_EQ(GetNthChild(pRoot, 1), pE);
    EXPECT_EQ(GetNthChild(pRoot, 0), pE);
    EXPECT_EQ(GetNthChild(pRoot, -7), pE);
    EXPECT_EQ(GetNthChild(pRoot, 4), pA);
    EXPECT_EQ(GetNthChild(pRoot, 5), pD);
    EXPECT_EQ(GetNthChild(pRoot, 6), nullptr);
    EXPECT_EQ(GetNthChild(pA, 1), nullptr);
    EXPECT_EQ(pRoot->nChildCount, 5);
}

TEST_F(TreeTest, RemovedNodeIsGoneFromIndexAndList)
{
    TREE_NODE* pX = CreateNode(pRoot, "x", 0, 1);
    TREE_NODE* pY = CreateNode(pRoot, "y", 0, 2);
    TREE_NODE* pZ = CreateNode(pRoot, "z", 0, 3);
    ASSERT_TRUE(pX && pY && pZ);

    RemoveNode(pY);
    EXPECT_EQ(FindNodeByPath(pRoot, "y", KX_FIND_LEAF), nullptr);
    EXPECT_EQ(FindNodeByPath(pRoot, "y", KX_FIND_ANY), nullptr);
    EXPECT_EQ(SiblingNames(pRoot), (std::vector<std::string>{"x", "z"}));
    EXPECT_EQ(pRoot->nIndexed, 2);

    // Taking it out again, or unindexing a node the parent never had, changes nothing.
    RemoveNode(pY);
    RemoveNode(nullptr);
    RemoveNode(pRoot);
    UnindexChildNode(pRoot, pY);
    UnlinkChild(pRoot, pY);
    EXPECT_EQ(pRoot->nIndexed, 2);
    EXPECT_EQ(pRoot->nChildCount, 2);
    EXPECT_EQ(SiblingNames(pRoot), (std::vector<std::string>{"x", "z"}));
    EXPECT_EQ(FindNodeByPath(pRoot, "x", KX_FIND_LEAF), pX);
    EXPECT_EQ(FindNodeByPath(pRoot, "z", KX_FIND_LEAF), pZ);
    FreeTreeNode(pY);

    RemoveNode(pX);
    RemoveNode(pZ);
    EXPECT_EQ(pRoot->pFirstChild, nullptr);
    EXPECT_EQ(pRoot->pLastChild, nullptr);
    EXPECT_EQ(pRoot->nIndexed, 0);
    for (int b = 0; b < KX_TREE_BUCKETS; ++b) {
        EXPECT_EQ(pRoot->pwBucketStart[b], 0);
        EXPECT_EQ(pRoot->pwBucketCount[b], 0);
    }
    FreeTreeNode(pX);
    FreeTreeNode(pZ);
    EXPECT_TRUE(reports.empty());
}

// A random sequence of creations, removals and re-orderings checked against a plain model: the
// index stays sorted with exact buckets, the sibling list follows (order key, insertion), the
// three lookup modes pick the documented node, and GetNthChild matches the list even when the
// list changes in the middle of a backward pass.
TEST_F(TreeTest, RandomEditsKeepIndexOrderAndLookups)
{
    struct MODEL_NODE {
        TREE_NODE* pNode;
        std::string name;
        uint8_t bGroup;
        int64_t llOrder;
        uint64_t qwCreated;
        uint64_t qwInserted;
    };
    std::vector<MODEL_NODE> model;
    uint64_t qwClock = 0;
    std::mt19937 rng(20240611);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    auto expectedList = [&]() {
        std::vector<MODEL_NODE> sorted = model;
        std::stable_sort(sorted.begin(), sorted.end(), [](const MODEL_NODE& a, const MODEL_NODE& b) {
            return a.llOrder != b.llOrder ? a.llOrder < b.llOrder : a.qwInserted < b.qwInserted;
        });
        std::vector<TREE_NODE*> nodes;
        for (const MODEL_NODE& m : sorted)
            nodes.push_back(m.pNode);
        return nodes;
    };
    auto find = [&](TREE_NODE* p) {
        return std::find_if(model.begin(), model.end(), [p](const MODEL_NODE& m) { return m.pNode == p; });
    };
    auto check = [&]() {
        std::vector<TREE_NODE*> list = expectedList();
        ASSERT_EQ(pRoot->nChildCount, int(list.size()));
        TREE_NODE* pPrev = nullptr;
        TREE_NODE* p = pRoot->pFirstChild;
        for (size_t i = 0; i < list.size(); ++i, pPrev = p, p = p->pNext) {
            ASSERT_EQ(p, list[i]) << "sibling " << i;
            ASSERT_EQ(p->pPrev, pPrev);
            ASSERT_EQ(p->pParent, pRoot);
        }
        ASSERT_EQ(p, nullptr);
        ASSERT_EQ(pRoot->pLastChild, pPrev);

        ASSERT_EQ(pRoot->nIndexed, int(model.size()));
        int anStart[KX_TREE_BUCKETS] = {}, anCount[KX_TREE_BUCKETS] = {};
        for (int i = 0; i < pRoot->nIndexed; ++i) {
            uint32_t dwKey = pRoot->pdwChildKeys[i];
            ASSERT_EQ(dwKey, pRoot->ppChildNodes[i]->dwKey);
            ASSERT_NE(find(pRoot->ppChildNodes[i]), model.end());
            if (i > 0) {
                ASSERT_LE(pRoot->pdwChildKeys[i - 1], dwKey);
                if (pRoot->pdwChildKeys[i - 1] == dwKey) {   // the newer of equal keys stands first
                    ASSERT_GT(find(pRoot->ppChildNodes[i - 1])->qwCreated, find(pRoot->ppChildNodes[i])->qwCreated);
                }
            }
            anCount[dwKey >> 24]++;
        }
        for (int b = 1; b < KX_TREE_BUCKETS; ++b)
            anStart[b] = anStart[b - 1] + anCount[b - 1];
        for (int b = 0; b < KX_TREE_BUCKETS; ++b) {
            ASSERT_EQ(pRoot->pwBucketStart[b], anStart[b]) << "bucket " << b;
            ASSERT_EQ(pRoot->pwBucketCount[b], anCount[b]) << "bucket " << b;
        }

        for (int i = 0; i < 12; ++i) {
            std::string name = "k" + std::to_string(i);
            TREE_NODE* pLeaf = nullptr;
            uint64_t qwNewest = 0;
            for (const MODEL_NODE& m : model) {
                if (m.name == name && !m.bGroup && m.qwCreated >= qwNewest) {
                    pLeaf = m.pNode;
                    qwNewest = m.qwCreated;
                }
            }
            TREE_NODE* pGroup = nullptr;
            TREE_NODE* pAny = nullptr;
            for (TREE_NODE* q : list) {
                if (q->pszName == name) {
                    if (!pAny)
                        pAny = q;
                    if (!pGroup && q->bGroup)
                        pGroup = q;
                }
            }
            ASSERT_EQ(FindNodeByPath(pRoot, name.c_str(), KX_FIND_LEAF), pLeaf) << name;
            ASSERT_EQ(FindNodeByPath(pRoot, name.c_str(), KX_FIND_GROUP), pGroup) << name;
            ASSERT_EQ(FindNodeByPath(pRoot, name.c_str(), KX_FIND_ANY), pAny) << name;
        }
    };

    for (int nStep = 0; nStep < 1500; ++nStep) {
        int nOp = pick(10);
        if (model.size() > 300 && nOp < 5)
            nOp = 5;
        if (nOp < 5 || model.size() < 3) {
            std::string name = "k" + std::to_string(pick(12));
            uint8_t bGroup = uint8_t(pick(2));
            int64_t llOrder = pick(9) - 4;
            TREE_NODE* p = CreateNode(pRoot, name.c_str(), bGroup, llOrder);
            ASSERT_NE(p, nullptr);
            ++qwClock;
            model.push_back(MODEL_NODE{p, name, bGroup, llOrder, qwClock, qwClock});
        } else if (nOp < 7) {
            auto it = model.begin() + pick(int(model.size()));
            TREE_NODE* p = it->pNode;
            model.erase(it);
            RemoveNode(p);
            FreeTreeNode(p);
        } else if (nOp < 9) {
            MODEL_NODE& m = model[size_t(pick(int(model.size())))];
            m.llOrder = pick(9) - 4;
            m.qwInserted = ++qwClock;
            ASSERT_EQ(SetNodeOrder(m.pNode, m.llOrder), 1);
        } else {
            MODEL_NODE& a = model[size_t(pick(int(model.size())))];
            MODEL_NODE& b = model[size_t(pick(int(model.size())))];
            if (&a == &b)
                continue;
            std::swap(a.llOrder, b.llOrder);
            a.qwInserted = ++qwClock;
            b.qwInserted = ++qwClock;
            ASSERT_EQ(SwapNodeOrder(a.pNode, b.pNode), 1);
        }
        check();
        if (HasFatalFailure())
            return;

        // A scheduler-like pass from the last child down; sometimes the list changes midway.
        if (nStep % 25 == 0) {
            int nStop = pick(int(model.size()) + 1);
            std::vector<TREE_NODE*> list = expectedList();
            for (int64_t k = pRoot->nChildCount; k >= 1; --k) {
                ASSERT_EQ(GetNthChild(pRoot, k), list[size_t(k - 1)]) << "k " << k;
                if (k == nStop) {
                    if (pick(2)) {
                        MODEL_NODE& m = model[size_t(pick(int(model.size())))];
                        m.llOrder = pick(9) - 4;
                        m.qwInserted = ++qwClock;
                        SetNodeOrder(m.pNode, m.llOrder);
                    } else {
                        int64_t llOrder = pick(9) - 4;
                        TREE_NODE* p = CreateNode(pRoot, "k0", 0, llOrder);
                        ASSERT_NE(p, nullptr);
                        ++qwClock;
                        model.push_back(MODEL_NODE{p, "k0", 0, llOrder, qwClock, qwClock});
                    }
                    list = expectedList();
                }
            }
            for (int i = 0; i < 20; ++i) {
                int64_t n = pick(int(model.size()) + 3) - 1;
                TREE_NODE* pWant = n > int64_t(list.size()) ? nullptr : list[size_t(std::max<int64_t>(n, 1) - 1)];
                ASSERT_EQ(GetNthChild(pRoot, n), pWant) << "n " << n;
            }
        }
    }
    EXPECT_TRUE(reports.empty());
}

// ---------------------------------------------------------------------------------------------

TEST(ObjectTrees, StartUpBuildsTheFourTrees)
{
    ERROR_RECORDER errors;
    ASSERT_EQ(CreateObjectTrees(), 0);
    EXPECT_TRUE(errors.reports.empty());

    EXPECT_STREQ(g_pszLayerPath, "W0");
    EXPECT_STREQ(g_pszThreadPath, "");
    EXPECT_STREQ(g_pszSoundPath, "S0");
    EXPECT_STREQ(g_pszMenuPath, "M0");

    struct {
        TREE_NODE* pRoot;
        const char* pszName;
        int64_t llOrder;
    } windows[] = {{g_pLayerRoot, "W0", 1}, {g_pSoundRoot, "S0", 1}, {g_pMenuRoot, "M0", 0}};
    for (const auto& w : windows) {
        ASSERT_NE(w.pRoot, nullptr);
        EXPECT_EQ(w.pRoot->pszName, nullptr);
        EXPECT_EQ(w.pRoot->nChildCount, 1);
        TREE_NODE* pNode = FindNodeByPath(w.pRoot, w.pszName, KX_FIND_GROUP);
        ASSERT_NE(pNode, nullptr) << w.pszName;
        EXPECT_EQ(pNode->bGroup, 1);
        EXPECT_EQ(pNode->llOrder, w.llOrder);
        EXPECT_EQ(FindNodeByPath(w.pRoot, w.pszName, KX_FIND_LEAF), nullptr);
    }

    // The scheduler walks from the last child: "SYSTEM" runs before the unnamed group.
    ASSERT_NE(g_pThreadRoot, nullptr);
    ASSERT_EQ(g_pThreadRoot->nChildCount, 2);
    TREE_NODE* pGroup = GetNthChild(g_pThreadRoot, 1);
    TREE_NODE* pSystem = GetNthChild(g_pThreadRoot, 2);
    EXPECT_STREQ(pGroup->pszName, "");
    EXPECT_EQ(pGroup->bGroup, 1);
    EXPECT_STREQ(pSystem->pszName, "SYSTEM");
    EXPECT_EQ(pSystem->bGroup, 0);
    EXPECT_EQ(pGroup->llOrder, 100);
    EXPECT_EQ(pSystem->llOrder, 100);
    EXPECT_EQ(FindNodeByPath(g_pThreadRoot, "SYSTEM", KX_FIND_LEAF), pSystem);
    // Both carry a script thread; only SYSTEM is the root thread.
    ASSERT_NE(pGroup->pPayload, nullptr);
    ASSERT_NE(pSystem->pPayload, nullptr);
    EXPECT_EQ(static_cast<SCRIPT_THREAD*>(pGroup->pPayload)->bRoot, 0);
    EXPECT_EQ(static_cast<SCRIPT_THREAD*>(pSystem->pPayload)->bRoot, 1);
    // "W0" carries its layer record.
    EXPECT_NE(FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP)->pPayload, nullptr);

    // Freeing releases every node and record (the leak checker watches) and clears the roots; a
    // second start builds the trees anew.
    FreeObjectTrees();
    for (TREE_NODE* pRoot : {g_pLayerRoot, g_pThreadRoot, g_pSoundRoot, g_pMenuRoot})
        EXPECT_EQ(pRoot, nullptr);
    ASSERT_EQ(CreateObjectTrees(), 0);
    ASSERT_EQ(CreateObjectTrees(), 0);
    FreeObjectTrees();
}

}  // namespace
