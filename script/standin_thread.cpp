// Stand-in until the script thread record exists: the node keeps no payload.
#include "core/object_tree.h"

SCRIPT_THREAD* AttachScriptThread(TREE_NODE* pNode)
{
    return nullptr;
}
