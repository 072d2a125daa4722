// Stand-in until the message text commands exist: no buffer yet (its readers see empty texts).
#include "script/text_buffer.h"

TEXT_BUFFER* g_pTextBuffer = nullptr;
