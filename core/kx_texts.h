// The engine's own texts that are Japanese. They live in the source as UTF-8 in one table and are
// converted to cp932 once, at the first use or at start-up.
#pragma once

enum KX_TEXT_ID {
#define KX_TEXT(id, utf8) id,
#include "core/kx_texts.inc"
#undef KX_TEXT
    KX_TEXT_COUNT
};

// The cp932 form of an engine text (never NULL; converted once, thread-safe).
const char* GetEngineText(int nId);
// Converts every text now (start-up does this so that later calls never convert).
void InitEngineTexts(void);
