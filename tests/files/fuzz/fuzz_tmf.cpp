// libFuzzer target: any bytes as a container. The header check, then every
// entry's own name (the first 16) and one absent name looked up as CZXfs
// does, through a chunk whose size the input picks, down to one entry.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "zfiles_local.h"

namespace {
struct Source {
    const uint8_t* Data;
    size_t Size;
    size_t At;
};

bool Read(void* user, uint8_t* to, uint32_t bytes)
{
    Source* s = (Source*)user;
    if (bytes > s->Size - s->At)
        return false;
    memcpy(to, s->Data + s->At, bytes);
    s->At += bytes;
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZTMF_HEADER h;
    if (size >= sizeof(h))
        memcpy(&h, data, sizeof(h));
    if (XFS_CheckHeader(size >= sizeof(h) ? &h : nullptr, size))
        return 0;
    const uint32_t entryBytes = ZTMF_ENTRY_BYTES(h.NameWidth);
    // Exactly sized, so that the address sanitizer sees every overrun.
    std::vector<uint8_t> chunk(entryBytes + data[0] % 64);
    Source source = {data, size, 0};
    XFS_DIRECTORY d = {h.EntryCount, h.NameWidth, size, chunk.data(), (uint32_t)chunk.size(), Read, &source};

    std::vector<std::string> names(1, "data\\absent.3do");
    for (uint32_t i = 0; i < h.EntryCount && i < 16; i++) {
        const char* field = (const char*)data + ZTMF_DIRECTORY_OFFSET + (size_t)i * entryBytes + sizeof(ZTMF_ENTRY);
        names.push_back(std::string(field, strnlen(field, h.NameWidth + 1u)));
    }
    uint32_t bad = 0;
    for (const std::string& name : names) {
        source.At = ZTMF_DIRECTORY_OFFSET;
        ZTMF_ENTRY e;
        const int r = XFS_FindEntry(&d, name.c_str(), &e, &bad);
        // The directory was checked to lie in the file; a found entry's data too.
        if (r == XFS_UNREADABLE || (r == XFS_FOUND && (uint64_t)e.Offset + e.Size > size))
            __builtin_trap();
    }
    return 0;
}
