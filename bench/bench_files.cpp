// Opening every file of containers of 100, 400 and 1,000 entries (the
// directory is read from the container on every open), and reading a 10 MB
// file whole. Baselines from the same run: opening the same files from the
// disk, the directory read entry by entry with three small reads each, and
// reading the 10 MB file from the disk.
#include "zarquel.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static double Now()
{
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

static std::string Fixture(const std::string& name)
{
    return std::string(ZQ_BENCH_FIXTURES) + "/" + name;
}

// The directory walk as three small reads per entry, for comparison.
static bool ReferenceLookup(HANDLE h, uint32_t count, uint8_t width, const char* name)
{
    LARGE_INTEGER at;
    at.QuadPart = ZTMF_DIRECTORY_OFFSET;
    SetFilePointerEx(h, at, NULL, FILE_BEGIN);
    char field[ZTMF_NAME_FIELD_MAX + 1];
    for (uint32_t i = 0; i < count; i++) {
        uint32_t offset, size;
        DWORD got;
        ReadFile(h, &offset, 4, &got, NULL);
        ReadFile(h, &size, 4, &got, NULL);
        ReadFile(h, field, width + 1u, &got, NULL);
        field[width + 1] = 0;
        if (_stricmp(field, name) == 0)
            return true;
    }
    return false;
}

int main()
{
    CZarquel* z = new CZarquel;
    z->Mem->InitHeap(32 << 20);
    CZXfs* x = z->Xfs;
    if (GetFileAttributesA(Fixture("big.tmf").c_str()) == INVALID_FILE_ATTRIBUTES) {
        printf("bench_files: inputs missing in %s (build the host tree first)\n", ZQ_BENCH_FIXTURES);
        return 1;
    }
    printf("bench_files: CZXfs opens and reads\n");
    for (int n : {100, 400, 1000}) {
        std::vector<std::string> names, disk;
        for (int i = 0; i < n; i++) {
            char name[64];
            snprintf(name, sizeof(name), "data\\objects\\level%d\\asset_%04d.bin", i % 7, i);
            names.push_back(name);
            snprintf(name, sizeof(name), "files/f%04d.bin", i);
            disk.push_back(Fixture(name));
        }
        // Passes over every name until at least 0.3 s have gone by.
        int passes = 0;
        double t0 = Now(), t;
        x->OpenMasterFile(Fixture("files" + std::to_string(n) + ".tmf").c_str());
        do {
            for (const std::string& name : names)
                x->CloseFile(x->OpenFile(name.c_str()));
            passes++;
        } while ((t = Now() - t0) < 0.3);
        double container = t * 1e6 / (passes * n);

        HANDLE h = x->MasterHandle;
        passes = 0;
        t0 = Now();
        do {
            for (const std::string& name : names)
                ReferenceLookup(h, x->EntryCount, x->NameWidth, name.c_str());
            passes++;
        } while ((t = Now() - t0) < 0.3);
        double reference = t * 1e6 / (passes * n);
        x->CloseMasterFile();

        passes = 0;
        t0 = Now();
        do {
            for (const std::string& name : disk)
                x->CloseFile(x->OpenFile(name.c_str()));
            passes++;
        } while ((t = Now() - t0) < 0.3);
        double plain = t * 1e6 / (passes * n);
        printf("  %4d entries: %8.2f us per open | three reads per entry %8.2f us (x%.1f) | disk open %6.2f us "
               "(x%.2f)\n",
               n, container, reference, reference / container, plain, container / plain);
    }

    const char* big = "data\\big.bin";
    std::string diskBig = Fixture("big.bin");
    double rate[2];
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 0)
            x->OpenMasterFile(Fixture("big.tmf").c_str());
        const char* name = pass == 0 ? big : diskBig.c_str();
        int reads = 0;
        double bytes = 0, t0 = Now(), t;
        do {
            unsigned long h = x->OpenFile(name);
            unsigned long size = x->GetFileSize(h);
            void* buf = z->Mem->GetMem(size);
            bytes += x->ReadFile(h, buf, size);
            x->CloseFile(h);
            z->Mem->FreeMem(buf, size);
            reads++;
        } while ((t = Now() - t0) < 0.5 || reads < 5);
        rate[pass] = bytes / t / 1e6;
        x->CloseMasterFile();
    }
    printf("  10 MB file read whole: %8.1f MB/s from the container | %8.1f MB/s from the disk (x%.2f)\n", rate[0],
           rate[1], rate[0] / rate[1]);
    delete z;
    return 0;
}
