// Helpers of the files tests: containers and PCX images built in memory,
// written next to the test executable.
#ifndef ZQ_FILES_UTIL_H
#define ZQ_FILES_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

#include "ztmf.h"

struct TmfItem {
    std::string Name;
    std::string Data;
};

// A container as the packer lays it out: header, directory with name fields
// of nameWidth + 1 bytes, then the data in directory order.
std::string ZQ_Container(const std::vector<TmfItem>& items, uint8_t nameWidth);
// Byte position of entry `index`'s fixed part.
size_t ZQ_EntryAt(size_t index, uint8_t nameWidth);
void ZQ_PutU32(std::string& bytes, size_t at, uint32_t value);

// An 8-bit PCX: 128-byte header (manufacturer 10, version 5, one plane),
// `data` as the run-length stream, then `tail` (marker and palette, or not).
std::string ZQ_Pcx(uint16_t bytesPerLine, uint16_t ymax, const std::string& data, const std::string& tail);
// Marker 12 and 768 palette bytes, entry i = (i, 255 - i, i * 7).
std::string ZQ_PaletteTail();

// Writes `bytes` to a file under a scratch folder next to the executable
// and returns its full path.
std::string ZQ_Scratch(const char* name, const std::string& bytes);
std::string ZQ_ScratchPath(const char* name);
// Makes the scratch folder the current directory, so tests use short names.
void ZQ_EnterScratch();

#endif
