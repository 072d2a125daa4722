// Why a start failed, said to a person in English: what is wrong and what to do about it. The
// game's own message box (in the game's language) stays as it is; these words go beside it.
#pragma once
#include <string>

// After a failed start: the reason, from the first fatal report and what the game folder holds.
// Names files and folders by their real paths. Never empty.
std::string DescribeStartupFailure(void);

// After a run that a fatal error ended: its English words when the first fatal report has them (a
// damaged pack, named with its entry), else empty.
std::string DescribeFatalErrorOfRun(void);

// 1 when the game folder holds nothing a game is made of (no kxbin folder, no pack), else 0.
int GameFolderHoldsNoGame(void);
// The words for a start without a terminal and without a named folder that found no game there:
// the folder looked in and how to open a game.
std::string DescribeNoGameForDesktop(void);
