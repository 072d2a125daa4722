// The script commands of the math and variable-utility families are not built yet. Until they
// are, these stand-ins with their final names hold their places in the command table and report
// that they are not part of this build.
#pragma once

int CmdMath(void);
int CmdMotionStep(void);
int CmdVarUtil(void);
int CmdVarQuery(void);
