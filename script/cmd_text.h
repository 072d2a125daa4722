// The message text commands: pieces of a message are appended to the engine-wide text buffer
// (script/text_buffer.h), and the text-end command closes the message and ends the thread's turn;
// the thread's next turn starts with an empty buffer.
#pragma once

// 108: appends the literal bytes of the first argument record's expression region, one width code
// per character. A piece that would make the text longer than 8190 bytes, or the codes longer than
// their buffer, is refused with 102000 (fatal). 0, or -1.
int CmdTextAppend(void);
// 112: evaluates the first argument by its evaluator type (integer in decimal, double as "%f",
// text; other types append nothing) and appends the result; single bytes outside 0x20..0x7E
// become blanks. 102000 (fatal) when the text would reach 8190 bytes, 102030 (fatal) when the
// result is longer than 1024 bytes. 0, or -1.
int CmdTextAppendExpr(void);
// 81: without decoding: the first argument record's first four bytes and its length field become
// the thread's two text-end values; the buffer is marked for clearing, gets the code 'E', and the
// thread asks for the clear at its next turn. -1 (the turn ends).
int CmdTextEnd(void);
