// The script thread record: creation with its first stack entries, and release.
#include <cstdlib>

#include "core/errors.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "script/dispatch.h"
#include "script/flow_frames.h"
#include "core/script_thread.h"


SCRIPT_THREAD* AttachScriptThread(TREE_NODE* pNode)
{
    SCRIPT_THREAD* pThread = static_cast<SCRIPT_THREAD*>(AllocZeroed(sizeof(SCRIPT_THREAD)));
    IF_BLOCK* pIf = static_cast<IF_BLOCK*>(AllocZeroed(sizeof(IF_BLOCK)));
    CALL_FRAME* pCall = static_cast<CALL_FRAME*>(AllocZeroed(sizeof(CALL_FRAME)));
    LOOP_FRAME* pLoop = static_cast<LOOP_FRAME*>(AllocZeroed(sizeof(LOOP_FRAME)));
    if (!pThread || !pIf || !pCall || !pLoop) {
        std::free(pThread);
        std::free(pIf);
        std::free(pCall);
        std::free(pLoop);
        ReportError(KX_ERR_NO_MEMORY, 1);
        return nullptr;
    }
    pThread->apIf[0] = pIf;
    pThread->apCall[0] = pCall;
    pThread->apLoop[0] = pLoop;
    pThread->bRunA = 1;
    pThread->bRunB = 1;
    if (pNode) pNode->pPayload = pThread;
    return pThread;
}

void FreeScriptThread(SCRIPT_THREAD* pThread)
{
    if (!pThread) return;
    for (IF_BLOCK* p : pThread->apIf) std::free(p);
    for (LOOP_FRAME* p : pThread->apLoop) std::free(p);
    for (CALL_FRAME* p : pThread->apCall) {
        if (!p) continue;
        for (int i = 0; i < KX_CALL_ITEMS; ++i) {
            std::free(p->apszArgText[i]);
            std::free(p->apszRetText[i]);
        }
        std::free(p);
    }
    for (char* psz : pThread->apszParam) std::free(psz);
    std::free(pThread);
}
