// Stand-ins for the script commands that are not built yet (see script/standins.h).
#include "script/standins.h"

#include "script/command_ids.h"
#include "script/dispatch.h"

int CmdVarUtil(void) { return ReportCommandNotBuilt(CMDID_VAR_UTIL); }
int CmdVarQuery(void) { return ReportCommandNotBuilt(CMDID_VAR_QUERY); }
