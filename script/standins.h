// The script commands of the math, file, dialog, registry and system families
// are not built yet. Until they are, these stand-ins with their final names hold their places in
// the command table and report that they are not part of this build.
#pragma once

int CmdClipboardCopy(void);
int CmdClipboardPaste(void);
int CmdCsvRead(void);
int CmdCsvCount(void);
int CmdMessageBox(void);
int CmdFile(void);
int CmdFileQuery(void);
int CmdRegRead(void);
int CmdReadTextLines(void);
int CmdSystem(void);
