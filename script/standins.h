// The script commands of the variable-utility family are not built yet. Until they are, these
// stand-ins with their final names hold their places in the command table and report that they
// are not part of this build.
#pragma once

int CmdVarUtil(void);
int CmdVarQuery(void);
