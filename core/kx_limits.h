// Buffer sizes used across the engine.
#pragma once

// File paths (Linux paths can be longer than Windows' 260).
#define KX_MAX_PATH 4096
// Object paths of the trees.
#define KX_MAX_OBJECT_PATH 256
