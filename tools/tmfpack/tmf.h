// Reading and writing ".tmf" master-file containers on the host. The record
// layouts are the engine's own (ztmf.h). Every operation returns an empty
// string on success and a one-line error otherwise.
#ifndef TMFPACK_TMF_H
#define TMFPACK_TMF_H

#include <cstdint>
#include <string>
#include <vector>

#include "ztmf.h"

// Largest container: offsets and sizes are 32-bit.
#define TMF_MAX_BYTES 0x100000000ull

struct TmfInput {
    std::string Name;   // as stored, e.g. "data\soldier\soldier.3do"
    std::string Path;   // file on the host
};

struct TmfEntry {
    std::string Name;
    uint32_t Offset = 0;
    uint32_t Size = 0;
    bool Inside = true;   // data lies inside the container
};

struct TmfDirectory {
    bool Signed = false;          // bytes 0-7 hold our signature
    uint32_t Version = 0;         // meaningful when Signed
    uint8_t NameWidth = 0;        // N: name fields are N + 1 bytes
    uint64_t FileBytes = 0;
    std::vector<TmfEntry> Entries;
};

struct TmfSummary {
    uint32_t Files = 0;
    uint64_t DataBytes = 0;       // sum of the file sizes
    uint64_t ContainerBytes = 0;  // bytes written
    uint32_t NameField = 0;       // bytes of each name field
};

// Adds every regular file under `folder`, named by its path relative to the
// folder with backslashes, sorted by name (byte order). `skip` (may be empty)
// is a file not to add, such as the container being written.
std::string TmfCollectTree(const std::string& folder, const std::string& skip, std::vector<TmfInput>* out);
// Adds the pairs of a list file: one "NAME<TAB>FILE" a line; blank lines and
// lines starting with '#' are skipped; a relative FILE is taken from the list
// file's folder.
std::string TmfReadList(const std::string& listFile, std::vector<TmfInput>* out);
// Splits "NAME=FILE" (at the last '=').
std::string TmfParsePair(const std::string& arg, TmfInput* out);

// Checks names and sizes, then writes the container (through a temporary
// file renamed at the end: a failed run leaves no container). nameField is
// the width of each name field in bytes, 2 to 256; 0 picks the smallest
// that holds the longest name and its NUL.
std::string TmfWrite(const std::string& container, const std::vector<TmfInput>& inputs, uint32_t nameField,
                     TmfSummary* summary);

// Reads and checks a container's header and directory (any container, not
// only ours: the signature is reported, not required).
std::string TmfReadDirectory(const std::string& container, TmfDirectory* dir);
// Finds `name` as the engine does (first entry, ASCII case ignored, data
// inside the file) and copies its bytes to `outPath` ("-" is stdout).
std::string TmfExtract(const std::string& container, const std::string& name, const std::string& outPath);
// Writes every entry under `folder`, backslashes turned into folders. Names
// that would leave the folder (absolute, drive letters, "..") are refused.
std::string TmfUnpack(const std::string& container, const std::string& folder, uint32_t* files);

bool TmfNameEquals(const std::string& a, const std::string& b);

#endif
