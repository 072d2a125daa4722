// The object trees: every named object that scripts manipulate (layers, script threads, sounds,
// menus) is a node of one of four trees, addressed by '/'-separated paths relative to the tree's
// current path. A node carries a sibling list ordered by a signed 64-bit order key and a hash index
// of its children by name key.
#pragma once
#include <cstdint>
#include "core/kx_limits.h"

// A node holds at most this many children; its child index has exactly this many slots.
enum { KX_TREE_MAX_CHILDREN = 4096, KX_TREE_BUCKETS = 257 };

// Search modes of FindNodeByPath.
enum { KX_FIND_LEAF = 0, KX_FIND_GROUP = 1, KX_FIND_ANY = 2 };

// Error ids raised by the tree code (texts from the compiled message table).
enum {
    KX_ERR_NO_SUCH_GROUP = 100230,   // a group named in a path does not exist (with the component)
    KX_ERR_SPACE_IN_PATH = 100242,   // a space in an object path (with the combined path)
    KX_ERR_NODE_NO_PATH = 900020,    // CreateNode called without a path
};

// Group flag in bit 31 of a name key; the low 31 bits are the name's MurmurHash2.
#define KX_KEY_GROUP 0x80000000u
#define KX_KEY_HASH_MASK 0x7FFFFFFFu

struct TREE_NODE {
    TREE_NODE* pFirstChild;      // head of the sibling list, NULL when none
    TREE_NODE* pLastChild;       // tail of the sibling list
    TREE_NODE* pPrev;            // previous sibling
    TREE_NODE* pNext;            // next sibling
    TREE_NODE* pParent;          // NULL for a tree root (and for a node taken out of its parent)
    char* pszName;               // own name (last path component), NUL-terminated; NULL for a root
    int32_t nNameLen;            // bytes of the name
    uint32_t dwKey;              // group << 31 | (MurmurHash2(name) & 0x7FFFFFFF)
    uint32_t* pdwChildKeys;      // KX_TREE_MAX_CHILDREN keys, ascending; allocated with the first child
    TREE_NODE** ppChildNodes;    // parallel to the keys
    uint16_t* pwBucketStart;     // KX_TREE_BUCKETS: index of the first key whose top byte is b
    uint16_t* pwBucketCount;     // KX_TREE_BUCKETS: number of keys whose top byte is b
    int32_t nIndexed;            // entries in the child index
    int32_t nChildCount;         // entries in the sibling list
    int64_t llOrder;             // sort key among the siblings
    uint8_t bGroup;              // 1 group (may hold children), 0 leaf
    void* pPayload;              // LAYER, SCRIPT_THREAD, SOUND_CHANNEL or MENU_ITEM
};

// The four trees and their current paths (each a KX_MAX_OBJECT_PATH-byte buffer).
extern TREE_NODE* g_pLayerRoot;
extern TREE_NODE* g_pThreadRoot;
extern TREE_NODE* g_pSoundRoot;
extern TREE_NODE* g_pMenuRoot;
extern char* g_pszLayerPath;
extern char* g_pszThreadPath;
extern char* g_pszSoundPath;
extern char* g_pszMenuPath;

// Builds the four trees: layers with group "W0" (order 1), threads with the unnamed group and the
// leaf "SYSTEM" (both order 100), sounds with group "S0" (order 1), menus with group "M0" (order 0).
// 0, or -1 when a node could not be made (reported).
int CreateObjectTrees(void);

// Makes name (relative to pszCurPath, or absolute after ':') into an absolute path in pszOut, which
// holds KX_MAX_OBJECT_PATH bytes. Returns 1 when the path names a group (it ended with '/'), 0
// otherwise, -1 after a reported error (a space where none is allowed: 100242; a result that does
// not fit the buffer: 900021).
int NormalizeObjectPath(char* pszOut, const char* pszName, const char* pszCurPath, uint8_t bAllowSpace);

// A zero node without a name: the root of a tree. NULL after error 100010.
TREE_NODE* CreateRootNode(void);
// The node that will hold the path's last component; NULL after error 100230.
TREE_NODE* FindParentNode(const char* pszPath, TREE_NODE* pRoot);
// The first direct child that is a group named by the len bytes at pName, or NULL.
TREE_NODE* FindChildNode(TREE_NODE* pNode, const char* pName, int32_t len);
// The node at the path, or NULL (nothing reported). Modes: KX_FIND_LEAF indexed search among
// leaves, KX_FIND_GROUP linear search among groups, KX_FIND_ANY linear search among all children.
TREE_NODE* FindNodeByPath(TREE_NODE* pRoot, const char* pszPath, int nMode);
// A new node at the path; does not look for an existing one. NULL after a reported error.
TREE_NODE* CreateNode(TREE_NODE* pRoot, const char* pszPath, uint8_t bGroup, int64_t llOrder);
// Takes the node out of its parent's child index and sibling list; the node and its payload stay
// allocated. Nothing happens for NULL, a root, or a node already taken out.
void RemoveNode(TREE_NODE* pNode);
// Frees a node's name, its child index and the node itself (not the payload, not the children).
// The node must no longer be in a parent (RemoveNode first).
void FreeTreeNode(TREE_NODE* pNode);

// Index maintenance. InsertChildIndex allocates the index with the first child; 0, or -1 when the
// index is full or cannot be allocated (100010 reported). Unindexing a node that is not in the
// index does nothing.
int InsertChildIndex(TREE_NODE* pParent, TREE_NODE* pChild);
void UnindexChildNode(TREE_NODE* pParent, TREE_NODE* pChild);
// Sibling-list maintenance: the child goes after every sibling whose order key is not greater.
void InsertChildSorted(TREE_NODE* pParent, TREE_NODE* pChild, int64_t llOrder);
void UnlinkChild(TREE_NODE* pParent, TREE_NODE* pChild);

// Re-inserts the node under a new order key: 1, or 0 when the node or its parent is NULL.
int SetNodeOrder(TREE_NODE* pNode, int64_t llOrder);
// Exchanges two nodes' order keys, each re-inserted: 1, or 0 when either is NULL.
int SwapNodeOrder(TREE_NODE* pA, TREE_NODE* pB);
// The n-th child in sibling order, counting from 1 (n below 2 gives the first); NULL when there are
// fewer. Consecutive calls on one parent with neighbouring n take one step each.
TREE_NODE* GetNthChild(TREE_NODE* pNode, int64_t n);

// The trees' payloads (layers, script threads, sound channels, menu items) are made and released
// by the subsystems that own their records, through g_EngineHooks (core/engine_hooks.h).

// Frees the four trees with every node and the payload each carries; the roots become NULL.
// Shut-down calls it last, and CreateObjectTrees first, so a second start begins from nothing.
void FreeObjectTrees(void);
