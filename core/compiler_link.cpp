// Until the compiler link runs, nothing is handed over.
#include "core/compiler_link.h"

COMPILER_FILE** g_apCompilerFiles = nullptr;
int32_t g_nCompilerFiles = 0;

int RunCompilerLink(void)
{
    return 0;
}
