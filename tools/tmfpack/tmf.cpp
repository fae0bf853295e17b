#include "tmf.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

const size_t TMF_COPY_CHUNK = 1 << 20;

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

std::string SysError(const std::string& what, const std::string& path)
{
    return "cannot " + what + " " + Quote(path) + ": " + strerror(errno);
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

uint32_t GetU32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

std::string ReadExactly(FILE* f, void* buffer, size_t n, const std::string& path, const char* what)
{
    if (fread(buffer, 1, n, f) != n)
        return Quote(path) + ": " + what + " truncated";
    return "";
}

std::string CopyBytes(FILE* from, FILE* to, uint64_t n, const std::string& fromPath, const std::string& toPath)
{
    std::vector<uint8_t> chunk(std::min<uint64_t>(n, TMF_COPY_CHUNK));
    while (n) {
        size_t step = (size_t)std::min<uint64_t>(n, chunk.size());
        if (fread(chunk.data(), 1, step, from) != step)
            return Quote(fromPath) + ": ended early (changed while packing?)";
        if (fwrite(chunk.data(), 1, step, to) != step)
            return SysError("write", toPath);
        n -= step;
    }
    return "";
}

// The entry the engine would serve for `name`, or null.
const TmfEntry* Find(const TmfDirectory& dir, const std::string& name)
{
    for (const TmfEntry& e : dir.Entries)
        if (e.Inside && TmfNameEquals(e.Name, name))
            return &e;
    return nullptr;
}

}  // namespace

bool TmfNameEquals(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string TmfCollectTree(const std::string& folder, const std::string& skip, std::vector<TmfInput>* out)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return Quote(folder) + ": no such folder";
    std::vector<TmfInput> found;
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec)
        return "cannot read folder " + Quote(folder) + ": " + ec.message();
    for (; it != end; it.increment(ec)) {
        if (ec)
            return "cannot read folder " + Quote(folder) + ": " + ec.message();
        if (!it->is_regular_file(ec))
            continue;
        if (!skip.empty() && fs::exists(skip, ec) && fs::equivalent(it->path(), skip, ec))
            continue;
        std::string name = fs::relative(it->path(), folder, ec).generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        found.push_back({name, it->path().string()});
    }
    std::sort(found.begin(), found.end(), [](const TmfInput& a, const TmfInput& b) { return a.Name < b.Name; });
    out->insert(out->end(), found.begin(), found.end());
    return "";
}

std::string TmfReadList(const std::string& listFile, std::vector<TmfInput>* out)
{
    File f(fopen(listFile.c_str(), "rb"));
    if (!f)
        return SysError("read list", listFile);
    fs::path base = fs::path(listFile).parent_path();
    std::string line;
    int number = 0;
    int c;
    bool more = true;
    while (more) {
        c = fgetc(f.get());
        if (c != EOF && c != '\n') {
            line += (char)c;
            continue;
        }
        more = c != EOF;
        number++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#') {
            size_t tab = line.find('\t');
            if (tab == std::string::npos || tab == 0 || tab + 1 == line.size())
                return Quote(listFile) + " line " + std::to_string(number) + ": expected NAME<TAB>FILE";
            fs::path path = line.substr(tab + 1);
            if (path.is_relative())
                path = base / path;
            out->push_back({line.substr(0, tab), path.string()});
        }
        line.clear();
    }
    return "";
}

std::string TmfParsePair(const std::string& arg, TmfInput* out)
{
    size_t eq = arg.rfind('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size())
        return Quote(arg) + ": expected NAME=FILE";
    out->Name = arg.substr(0, eq);
    out->Path = arg.substr(eq + 1);
    return "";
}

std::string TmfWrite(const std::string& container, const std::vector<TmfInput>& inputs, uint32_t nameField,
                     TmfSummary* summary)
{
    if (nameField != 0 && (nameField < 2 || nameField > ZTMF_NAME_FIELD_MAX))
        return "name field width " + std::to_string(nameField) + " outside 2.." + std::to_string(ZTMF_NAME_FIELD_MAX);
    if (inputs.size() > 0xFFFFFFFFull)
        return "too many files";

    // Every check happens before the first byte is written.
    size_t longest = 1;
    std::vector<uint64_t> sizes;
    sizes.reserve(inputs.size());
    for (size_t i = 0; i < inputs.size(); i++) {
        const TmfInput& in = inputs[i];
        if (in.Name.empty())
            return "empty name for " + Quote(in.Path);
        if (in.Name.find('\0') != std::string::npos)
            return "name " + Quote(in.Name) + " holds a NUL";
        size_t limit = nameField ? nameField - 1 : ZTMF_NAME_MAX;
        if (in.Name.size() > limit)
            return "name " + Quote(in.Name) + " is " + std::to_string(in.Name.size()) +
                   " characters, longer than the name field (at most " + std::to_string(limit) + ")";
        longest = std::max(longest, in.Name.size());
        for (size_t j = 0; j < i; j++)
            if (TmfNameEquals(inputs[j].Name, in.Name))
                return "name " + Quote(in.Name) + " given twice (names ignore case): " + Quote(inputs[j].Path) +
                       " and " + Quote(in.Path);
        std::error_code ec;
        fs::file_status st = fs::status(in.Path, ec);
        if (ec || !fs::exists(st))
            return "missing input " + Quote(in.Path) + " (for " + Quote(in.Name) + ")";
        if (!fs::is_regular_file(st))
            return "input " + Quote(in.Path) + " is not a regular file";
        sizes.push_back(fs::file_size(in.Path, ec));
        if (ec)
            return "cannot size " + Quote(in.Path) + ": " + ec.message();
    }
    uint32_t field = nameField ? nameField : (uint32_t)longest + 1;
    uint32_t entryBytes = ZTMF_ENTRY_BYTES(field - 1);
    uint64_t total = ZTMF_DIRECTORY_OFFSET + (uint64_t)inputs.size() * entryBytes;
    for (uint64_t s : sizes)
        total += s;
    if (total > TMF_MAX_BYTES)
        return "container would be " + std::to_string(total) + " bytes, more than 2^32 (4294967296)";

    std::vector<uint8_t> head(ZTMF_DIRECTORY_OFFSET + (size_t)inputs.size() * entryBytes, 0);
    memcpy(head.data(), ZTMF_SIGNATURE, ZTMF_SIGNATURE_BYTES);
    PutU32(&head[offsetof(ZTMF_HEADER, EntryCount)], (uint32_t)inputs.size());
    PutU32(&head[offsetof(ZTMF_HEADER, Version)], ZTMF_VERSION);
    head[offsetof(ZTMF_HEADER, NameWidth)] = (uint8_t)(field - 1);
    uint64_t offset = head.size();
    for (size_t i = 0; i < inputs.size(); i++) {
        uint8_t* e = &head[ZTMF_DIRECTORY_OFFSET + i * entryBytes];
        PutU32(e + offsetof(ZTMF_ENTRY, Offset), (uint32_t)offset);
        PutU32(e + offsetof(ZTMF_ENTRY, Size), (uint32_t)sizes[i]);
        memcpy(e + sizeof(ZTMF_ENTRY), inputs[i].Name.data(), inputs[i].Name.size());
        offset += sizes[i];
    }

    std::string part = container + ".part";
    std::string error;
    {
        File out(fopen(part.c_str(), "wb"));
        if (!out)
            return SysError("create", part);
        if (fwrite(head.data(), 1, head.size(), out.get()) != head.size())
            error = SysError("write", part);
        for (size_t i = 0; i < inputs.size() && error.empty(); i++) {
            File in(fopen(inputs[i].Path.c_str(), "rb"));
            if (!in)
                error = SysError("read", inputs[i].Path);
            else
                error = CopyBytes(in.get(), out.get(), sizes[i], inputs[i].Path, part);
        }
        if (error.empty() && fflush(out.get()) != 0)
            error = SysError("write", part);
    }
    if (error.empty() && rename(part.c_str(), container.c_str()) != 0)
        error = SysError("rename to", container);
    if (!error.empty()) {
        remove(part.c_str());
        return error;
    }
    if (summary) {
        summary->Files = (uint32_t)inputs.size();
        summary->DataBytes = total - head.size();
        summary->ContainerBytes = total;
        summary->NameField = field;
    }
    return "";
}

std::string TmfReadDirectory(const std::string& container, TmfDirectory* dir)
{
    File f(fopen(container.c_str(), "rb"));
    if (!f)
        return SysError("open", container);
    std::error_code ec;
    dir->FileBytes = fs::file_size(container, ec);
    if (ec)
        return "cannot size " + Quote(container) + ": " + ec.message();
    uint8_t head[sizeof(ZTMF_HEADER)];
    std::string error = ReadExactly(f.get(), head, sizeof(head), container, "header");
    if (!error.empty())
        return error;
    dir->Signed = memcmp(head, ZTMF_SIGNATURE, ZTMF_SIGNATURE_BYTES) == 0;
    dir->Version = GetU32(head + offsetof(ZTMF_HEADER, Version));
    dir->NameWidth = head[offsetof(ZTMF_HEADER, NameWidth)];
    uint32_t count = GetU32(head + offsetof(ZTMF_HEADER, EntryCount));
    uint32_t entryBytes = ZTMF_ENTRY_BYTES(dir->NameWidth);
    if (ZTMF_DIRECTORY_OFFSET + (uint64_t)count * entryBytes > dir->FileBytes)
        return Quote(container) + ": directory of " + std::to_string(count) +
               " entries runs past the end of the file";
    dir->Entries.clear();
    dir->Entries.reserve(count);
    std::vector<uint8_t> entry(entryBytes);
    for (uint32_t i = 0; i < count; i++) {
        error = ReadExactly(f.get(), entry.data(), entryBytes, container, "directory");
        if (!error.empty())
            return error;
        TmfEntry e;
        e.Offset = GetU32(entry.data() + offsetof(ZTMF_ENTRY, Offset));
        e.Size = GetU32(entry.data() + offsetof(ZTMF_ENTRY, Size));
        const char* name = (const char*)entry.data() + sizeof(ZTMF_ENTRY);
        e.Name.assign(name, strnlen(name, dir->NameWidth + 1u));
        e.Inside = (uint64_t)e.Offset + e.Size <= dir->FileBytes;
        dir->Entries.push_back(e);
    }
    return "";
}

std::string TmfExtract(const std::string& container, const std::string& name, const std::string& outPath)
{
    TmfDirectory dir;
    std::string error = TmfReadDirectory(container, &dir);
    if (!error.empty())
        return error;
    const TmfEntry* e = Find(dir, name);
    if (!e)
        return Quote(name) + " is not in " + Quote(container);
    File in(fopen(container.c_str(), "rb"));
    if (!in || fseeko(in.get(), e->Offset, SEEK_SET) != 0)
        return SysError("read", container);
    if (outPath == "-")
        return CopyBytes(in.get(), stdout, e->Size, container, "standard output");
    File out(fopen(outPath.c_str(), "wb"));
    if (!out)
        return SysError("create", outPath);
    error = CopyBytes(in.get(), out.get(), e->Size, container, outPath);
    if (error.empty() && fflush(out.get()) != 0)
        error = SysError("write", outPath);
    return error;
}

std::string TmfUnpack(const std::string& container, const std::string& folder, uint32_t* files)
{
    TmfDirectory dir;
    std::string error = TmfReadDirectory(container, &dir);
    if (!error.empty())
        return error;
    *files = 0;
    for (const TmfEntry& e : dir.Entries) {
        if (!e.Inside)
            return Quote(e.Name) + ": data outside the container";
        std::string rel = e.Name;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        fs::path p(rel);
        bool unsafe = rel.empty() || p.is_absolute() || rel.find(':') != std::string::npos;
        for (const fs::path& part : p)
            unsafe = unsafe || part == "..";
        if (unsafe)
            return Quote(e.Name) + ": name would leave the folder";
        fs::path target = fs::path(folder) / p;
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            return "cannot create folder " + Quote(target.parent_path().string()) + ": " + ec.message();
        // Entries of the same name (ignoring case) are served as the first.
        if (Find(dir, e.Name) != &e)
            continue;
        error = TmfExtract(container, e.Name, target.string());
        if (!error.empty())
            return error;
        (*files)++;
    }
    return "";
}
