// Stand-ins for the script commands that are not built yet (see script/standins.h).
#include "script/standins.h"

#include "script/command_ids.h"
#include "script/dispatch.h"

int CmdClipboardCopy(void) { return ReportCommandNotBuilt(CMDID_CLIPBOARD_COPY); }
int CmdClipboardPaste(void) { return ReportCommandNotBuilt(CMDID_CLIPBOARD_PASTE); }
int CmdCsvRead(void) { return ReportCommandNotBuilt(CMDID_CSV_READ); }
int CmdCsvCount(void) { return ReportCommandNotBuilt(CMDID_CSV_COUNT); }
int CmdMessageBox(void) { return ReportCommandNotBuilt(CMDID_MESSAGE_BOX); }
int CmdFile(void) { return ReportCommandNotBuilt(CMDID_FILE); }
int CmdFileQuery(void) { return ReportCommandNotBuilt(CMDID_FILE_QUERY); }
int CmdRegRead(void) { return ReportCommandNotBuilt(CMDID_REG_READ); }
int CmdReadTextLines(void) { return ReportCommandNotBuilt(CMDID_READ_TEXT_LINES); }
int CmdSystem(void) { return ReportCommandNotBuilt(CMDID_SYSTEM); }
