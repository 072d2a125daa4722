// The table of subsystem steps; every entry starts NULL (skipped) until its subsystem installs it.
#include "core/engine_hooks.h"

ENGINE_HOOKS g_EngineHooks = {};
