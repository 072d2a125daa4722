// Files and expressions that fail in known ways, for the tests of the runs an error stops.
#pragma once
#include <cstdint>
#include <vector>

// A WAV whose form id is "RIFX": the sound loader refuses it with its code 10040.
std::vector<uint8_t> DamagedWavFile(void);
// An Ogg Vorbis file cut inside its headers: the sound loader refuses it with its code 1030.
std::vector<uint8_t> DamagedOggFile(void);
// The expression "A" + 1, which fails when it is evaluated: a text and a number do not add up.
std::vector<uint8_t> FailingExpression(void);
