// Stand-in until the menu item record exists: the node keeps no payload.
#include "core/object_tree.h"

MENU_ITEM* AttachMenuItem(TREE_NODE* pNode, const char* pszCaption)
{
    return nullptr;
}

void ReleaseMenuItem(MENU_ITEM* p)
{
    (void)p;
}
