// Stand-in until the layer record and its defaults exists: the node keeps no payload.
#include "core/object_tree.h"

LAYER* CreateNodeLayer(TREE_NODE* pNode)
{
    return nullptr;
}

void ReleaseNodeLayer(LAYER* p)
{
    (void)p;
}
