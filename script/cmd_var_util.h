// The variable utility command, which converts between numbers and texts, cuts and changes texts,
// reshapes one-dimensional arrays and resets global variables, and the variable query command,
// which reads facts about a variable into an integer variable.
//
// Both pick their operation by which argument ids are present. Argument 0 designates the source A
// (a variable element), argument 1 the target B. Text positions count characters: a cp932
// double-byte character is one. Each handler returns 0, or -1 after an error or a refused
// operation (the refused array operations show a message box and change nothing).
#pragma once
#include <cstddef>
#include <cstdint>

#include "script/variables.h"

// Argument ids of the utility command.
enum {
    KX_VU_SOURCE = 0,
    KX_VU_TARGET = 1,
    KX_VU_REMOVE = 2,
    KX_VU_EXTRACT = 3,
    KX_VU_FIRST = 4,          // first character, from 1 (values below 2: the first)
    KX_VU_COUNT = 5,          // number of characters
    KX_VU_CONVERT = 6,        // number <-> text
    KX_VU_UPPER_ASCII = 7,
    KX_VU_UPPER_CP932 = 8,
    KX_VU_LOWER_ASCII = 9,
    KX_VU_LOWER_CP932 = 10,
    KX_VU_FULL_WIDTH = 11,
    KX_VU_HALF_WIDTH = 12,
    KX_VU_RESIZE = 13,        // new size := its operator applied to the current size and its value
    KX_VU_INSERT = 14,        // position
    KX_VU_DELETE = 15,        // position
    KX_VU_RESET = 16,
    KX_VU_RESET_INT = 17,     // 17..20: int64 classes 1..4
    KX_VU_RESET_FLOAT = 21,   // 21..24: double classes 1..4
    KX_VU_RESET_TEXT = 25,    // 25..28: text classes 1..4
    KX_VU_LAST_ARG = 28,
};

// Argument ids of the query command. The first present of 2..12 answers alone; otherwise 13, 14,
// 15 and 16 each answer when present (into the same target).
enum {
    KX_VQ_SOURCE = 0,
    KX_VQ_TARGET = 1,
    KX_VQ_TYPE = 2,
    KX_VQ_FIRST_WIDTH = 3,    // 2 for a double-byte first character, else 1
    KX_VQ_DIMS = 4,
    KX_VQ_DIM_SIZE = 5,       // 5..12: size of dimension 0..7
    KX_VQ_CHARS = 13,
    KX_VQ_SEARCH = 14,
    KX_VQ_SMALLEST = 15,
    KX_VQ_FIRST_CODE = 16,    // lead x 256 + trail, or the byte, 0 for the empty text
    KX_VQ_FIND_INT = 17,
    KX_VQ_FIND_FLOAT = 18,    // taken as its integer value converted to double
    KX_VQ_FIND_TEXT = 19,
    KX_VQ_FROM = 20,          // first index of the searches (default 0; negative counts as 0)
    KX_VQ_TO = 21,            // last index of the smallest-text search (default and limit: the last)
    KX_VQ_LAST_ARG = 21,
};

// Error ids (fatal script errors; texts from the game's message table).
enum {
    KX_ERR_VU_CONVERT_TYPES = 108200,   // conversion not between one number type and text
    KX_ERR_VU_NOT_NUMBER = 108210,      // a text that is not a number
    KX_ERR_VU_NOT_TEXT = 108220,        // a text operation on a variable that is not a text variable
    KX_ERR_VQ_EMPTY_TEXT = 101450,      // first-character width of an empty text (command and argument names)
    KX_ERR_VU_EXTRACT_FIRST = 120010,   // extract: the first character lies beyond the text
    KX_ERR_VU_EXTRACT_RANGE = 120020,   // extract: the range runs beyond the text
    KX_ERR_VU_REMOVE_FIRST = 120110,
    KX_ERR_VU_REMOVE_RANGE = 120120,
};

int CmdVarUtil(void);
int CmdVarQuery(void);

// ---- the pieces, also for tests and benchmarks ----

// The byte range of llCount characters from character llFirst (counted from 1; values below 2 mean
// the first) of a terminated text: 0 with *pnStart and *pnEnd set; 1 when skipping llFirst - 1
// characters reaches the end of the text; 2 when a character of the range would start at or after
// the end. llCount <= 0 is an empty range.
int FindCharRange(const char* psz, int64_t llFirst, int64_t llCount, size_t* pnStart, size_t* pnEnd);
// Characters of a terminated text (a lead byte followed by the terminator counts as one).
int64_t CountCharsCp932(const char* psz);

// Inserts an empty element (0, 0.0 or the empty text) at llPos of a one-dimensional array; the
// size stays, so the last element is lost. A position at or beyond the last element only clears
// the last one; a negative position changes nothing. Text elements are moved, never copied: the
// buffer of the lost element becomes the new empty one.
void InsertVarElement(VAR_DESC* pVar, int64_t llPos);
// Deletes the element at llPos: the later ones move down and the last becomes empty. A position
// beyond the last element, or negative, changes nothing. Text elements are moved, never copied.
void DeleteVarElement(VAR_DESC* pVar, int64_t llPos);
// Resizes a one-dimensional array to llNewSize, checked whole before anything is allocated:
// below 1 shows the invalid-size message (-1), above 4,000,000 is error 101100 (-1); the same size
// changes nothing.
int ResizeVarArrayChecked(VAR_DESC* pVar, int64_t llNewSize);
