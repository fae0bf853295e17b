#include "files_util.h"
#include "zqtest.h"

#include <cstdio>
#include <cstring>

size_t ZQ_EntryAt(size_t index, uint8_t nameWidth)
{
    return ZTMF_DIRECTORY_OFFSET + index * ZTMF_ENTRY_BYTES(nameWidth);
}

void ZQ_PutU32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + i] = (char)(value >> (8 * i));
}

std::string ZQ_Container(const std::vector<TmfItem>& items, uint8_t nameWidth)
{
    std::string out(ZQ_EntryAt(items.size(), nameWidth), '\0');
    memcpy(&out[0], ZTMF_SIGNATURE, ZTMF_SIGNATURE_BYTES);
    ZQ_PutU32(out, 8, (uint32_t)items.size());
    ZQ_PutU32(out, 12, ZTMF_VERSION);
    out[16] = (char)nameWidth;
    for (size_t i = 0; i < items.size(); i++) {
        size_t at = ZQ_EntryAt(i, nameWidth);
        ZQ_PutU32(out, at, (uint32_t)out.size());
        ZQ_PutU32(out, at + 4, (uint32_t)items[i].Data.size());
        size_t n = items[i].Name.size();
        if (n > nameWidth + 1u)
            n = nameWidth + 1u;
        memcpy(&out[at + 8], items[i].Name.data(), n);
        out += items[i].Data;
    }
    return out;
}

std::string ZQ_Pcx(uint16_t bytesPerLine, uint16_t ymax, const std::string& data, const std::string& tail)
{
    std::string h(128, '\0');
    h[0] = 10;
    h[1] = 5;
    h[2] = 1;
    h[3] = 8;
    h[8] = (char)((bytesPerLine - 1) & 0xFF);
    h[9] = (char)((bytesPerLine - 1) >> 8);
    h[10] = (char)(ymax & 0xFF);
    h[11] = (char)(ymax >> 8);
    h[65] = 1;
    h[66] = (char)(bytesPerLine & 0xFF);
    h[67] = (char)(bytesPerLine >> 8);
    return h + data + tail;
}

std::string ZQ_PaletteTail()
{
    std::string t(1, '\x0c');
    for (int i = 0; i < 256; i++) {
        t += (char)i;
        t += (char)(255 - i);
        t += (char)(i * 7);
    }
    return t;
}

std::string ZQ_ScratchPath(const char* name)
{
    std::string dir = ZQ_ExeDir() + "\\files_scratch";
    CreateDirectoryA(dir.c_str(), NULL);
    return dir + "\\" + name;
}

std::string ZQ_Scratch(const char* name, const std::string& bytes)
{
    std::string path = ZQ_ScratchPath(name);
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

void ZQ_EnterScratch()
{
    std::string dir = ZQ_ExeDir() + "\\files_scratch";
    CreateDirectoryA(dir.c_str(), NULL);
    SetCurrentDirectoryA(dir.c_str());
}
