// modwrite: builds a 4-channel tracker module ("M.K.", 31 samples, 64-row
// patterns) from a short text description. Used by the sound tests and by
// anyone who wants to hear the engine's player.
//
// The description, one statement per line ('#' at the start of a line or
// after a space starts a comment):
//
//   title NAME
//   sample N WAVE [cycle=C] [length=L] [volume=V] [finetune=F] [amp=A] [loop=S:L|none]
//       N 1 ... 31; WAVE sine, square, saw, triangle, noise or silence; C
//       samples per cycle (default 32); L bytes (default one cycle, even);
//       V 0 ... 64 (default 64); F -8 ... 7; A peak 1 ... 127 (default 100);
//       the loop in bytes (default: the whole sample; "none": no loop).
//   order P P ...            the song: pattern numbers, at most 128
//   pattern P                the rows below belong to pattern P
//   ROW CELL | CELL | CELL | CELL
//       ROW 0 ... 63; missing cells are empty. A cell is NOTE [SAMPLE [EFFECT]]:
//       NOTE "C-2", "C#2", "---", or "P428" (a raw period); octaves 0 ... 4,
//       C-1 being period 856; SAMPLE 1 ... 31 or ".."; EFFECT three hex
//       digits ("C40") or "...".
#ifndef MODWRITE_H
#define MODWRITE_H

#include <cstdint>
#include <string>
#include <vector>

namespace modwrite {

// The module's bytes, or false with `error` naming the line and the fault.
bool Build(const std::string& text, std::vector<uint8_t>& module, std::string& error);

// The period of a note name ("C-1" = 856), or 0 when it names none.
uint16_t NotePeriod(const std::string& note);

}  // namespace modwrite

#endif
