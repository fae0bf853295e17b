// Damaged assets: every asset kind of the game's container, cut at several
// lengths and with flipped bytes, loaded (and drawn) as the game loads it in
// a child process. Each case either loads or ends with one message box that
// names the file: never a crash, a hang or a silent death.
//
// One container holds every damaged copy next to the intact files; a child
// runs the cases in turn from where the last one stopped, writing each case
// before and after it, so that only a refused case costs a process.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bass.h"
#include "bf04.h"
#include "camerapath.h"
#include "gfx_fixture.h"
#include "soundplayer.h"
#include "ztmf.h"
#include "zqtest.h"

Game G;

namespace {

enum Kind { OBJECT, MATERIALS, OCTREE, PATH, PCX, PICTURE, MUSIC, SAMPLE, CONTAINER };
const char* const KIND_NAMES[] = {".3do", ".material", ".oct", ".tcp", ".pcx", ".jpg", ".xm", ".wav", ".tmf"};

// One asset of each kind and the folder its damaged copies go to (materials
// stay next to their textures).
const struct { Kind K; const char* Name; const char* Folder; } ASSETS[] = {
    {OBJECT, "data\\soldier\\soldier.3do", "data\\damaged\\"},
    {MATERIALS, "data\\soldier\\soldier.material", "data\\soldier\\"},
    {OCTREE, "data\\scene\\scene.oct", "data\\damaged\\"},
    {PATH, "data\\camera1.tcp", "data\\damaged\\"},
    {PCX, "data\\shadow.pcx", "data\\damaged\\"},
    {PICTURE, "data\\soldier\\soldier.jpg", "data\\damaged\\"},
    {MUSIC, "data\\bf04c.xm", "data\\damaged\\"},
    {SAMPLE, "data\\sounds\\disparo.wav", "data\\damaged\\"},
};

struct Entry {
    std::string Name;
    std::string Bytes;
};

struct Case {
    Kind K;
    std::string Name;      // in the matrix container, or the damaged container's path
    std::string Damage;
    std::string Bytes;
};

const char* const SPLINE_MESSAGE = "Puntos de control de la spline insuficientes";

std::vector<Entry> ReadContainer(const std::string& tmf)
{
    std::vector<Entry> out;
    ZTMF_HEADER h;
    if (tmf.size() < sizeof(h))
        return out;
    memcpy(&h, tmf.data(), sizeof(h));
    for (uint32_t i = 0; i < h.EntryCount; i++) {
        const size_t at = ZTMF_DIRECTORY_OFFSET + (size_t)i * ZTMF_ENTRY_BYTES(h.NameWidth);
        ZTMF_ENTRY e;
        memcpy(&e, tmf.data() + at, sizeof(e));
        const char* name = tmf.data() + at + sizeof(e);
        out.push_back({std::string(name, strnlen(name, h.NameWidth + 1u)), tmf.substr(e.Offset, e.Size)});
    }
    return out;
}

std::string WriteContainer(const std::vector<Entry>& entries)
{
    size_t width = 0;
    for (const Entry& e : entries)
        width = std::max(width, e.Name.size());
    ZTMF_HEADER h = {};
    memcpy(h.Signature, ZTMF_SIGNATURE, ZTMF_SIGNATURE_BYTES);
    h.EntryCount = (uint32_t)entries.size();
    h.Version = ZTMF_VERSION;
    h.NameWidth = (uint8_t)width;
    std::string out((const char*)&h, sizeof(h)), data;
    uint32_t at = ZTMF_DIRECTORY_OFFSET + h.EntryCount * ZTMF_ENTRY_BYTES(width);
    for (const Entry& e : entries) {
        ZTMF_ENTRY d = {at + (uint32_t)data.size(), (uint32_t)e.Bytes.size()};
        out.append((const char*)&d, sizeof(d));
        std::string field = e.Name;
        field.resize(width + 1, '\0');
        out += field;
        data += e.Bytes;
    }
    return out + data;
}

// Cuts at fixed lengths and a few of the file's; flips of one byte in the
// first 256 bytes (where the counts and offsets are) and of eight anywhere.
std::vector<std::pair<std::string, std::string>> Damages(const std::string& bytes, uint32_t seed)
{
    std::vector<std::pair<std::string, std::string>> out;
    const size_t n = bytes.size();
    for (size_t cut : std::set<size_t>{0, 3, 17, 101, n / 4, n / 2, n - 1})
        if (cut < n)
            out.push_back({"cut " + std::to_string(cut), bytes.substr(0, cut)});
    auto next = [&seed]() { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int i = 0; i < 6; i++) {
        std::string b = bytes;
        const int flips = i < 4 ? 1 : 8;
        std::string what = "flip";
        for (int k = 0; k < flips; k++) {
            const size_t at = next() % (i < 4 ? std::min(n, (size_t)256) : n);
            b[at] ^= (char)(1 + next() % 255);
            what += " " + std::to_string(at);
        }
        out.push_back({what, b});
    }
    return out;
}

// The same list in the parent and in every child.
std::vector<Case> Cases(const std::vector<Entry>& original, const std::string& tmf)
{
    std::vector<Case> out;
    for (const auto& a : ASSETS)
        for (const Entry& e : original)
            if (e.Name == a.Name) {
                int k = 0;
                for (auto& d : Damages(e.Bytes, 7u + a.K)) {
                    char name[96];
                    snprintf(name, sizeof name, "%sdamaged%02d%s", a.Folder, k++, KIND_NAMES[a.K]);
                    out.push_back({a.K, name, a.Name + std::string(": ") + d.first, d.second});
                }
            }
    // The container itself: its header and directory.
    ZTMF_HEADER h;
    memcpy(&h, tmf.data(), sizeof(h));
    std::string directory = tmf.substr(0, ZTMF_DIRECTORY_OFFSET + h.EntryCount * ZTMF_ENTRY_BYTES(h.NameWidth));
    int k = 0;
    for (auto& d : Damages(directory, 99)) {
        const std::string bytes = d.second.size() < directory.size() ? d.second : d.second + tmf.substr(directory.size());
        out.push_back({CONTAINER, ZQ_TempPath(("damaged" + std::to_string(k++) + ".tmf").c_str()),
                       "data.tmf: " + d.first, bytes});
    }
    return out;
}

std::string Env(const char* name)
{
    char value[MAX_PATH] = {0};
    GetEnvironmentVariableA(name, value, sizeof(value));
    return value;
}

void Progress(const char* text)
{
    FILE* f = fopen(Env("ZQ_DAMAGE_PROGRESS").c_str(), "ab");
    fputs(text, f);
    fclose(f);
}

// Loads one case as the game loads an asset of its kind; false when the
// audio library refused it (the game then plays on without it).
bool Load(ZQGfx& gfx, const Case& c)
{
    CZarquel* z = gfx.Z;
    CZO3d* o3d = z->O3d;
    const char* name = c.Name.c_str();
    switch (c.K) {
    case OBJECT: {
        unsigned long obj = o3d->LoadObject(name);
        for (unsigned long i = 0; i < o3d->GetNumberFrames(obj); i++) {
            o3d->SetActualFrame(obj, i, 0.0f, (int)(i + 1));
            o3d->ScaleObject(obj, 0.05f);
            o3d->RecalcNormals(obj, 1);
        }
        o3d->DrawAllObject(obj, 0);
        gfx.Frame();
        o3d->DestroyObject(obj);
        return true;
    }
    case MATERIALS: {
        unsigned long obj = o3d->LoadObject("data\\soldier\\soldier.3do");
        unsigned long materials = o3d->LoadMaterials(obj, name);
        o3d->DrawAllObject(obj, 0);
        gfx.Frame();
        o3d->FreeMaterials(materials, 1);
        o3d->DestroyObject(obj);
        return true;
    }
    case OCTREE: {
        unsigned long scene = o3d->LoadObject("data\\scene\\scene.3do");
        unsigned long octree = z->OctreeAABB->LoadAABBOctree(scene, name);
        z->OctreeAABB->DrawAABBObject(octree);
        gfx.Frame();
        z->OctreeAABB->DestroyAABBOctree(octree);
        o3d->DestroyObject(scene);
        return true;
    }
    case PATH: {
        CameraPath path;
        path.Engine = z;
        path.Load(name);
        path.SetSegments(50);
        for (float t : {0.1f, 0.0f, 0.5f, 0.99f})
            path.Eval(t);
        return true;
    }
    case PCX: {
        unsigned long texture = gfx.H3d->LoadAlphaTexture((char*)"data\\black.jpg", 20);
        LoadAlphaMap(texture, name);
        gfx.H3d->UnloadTexture(texture);
        return true;
    }
    case PICTURE:
        gfx.H3d->UnloadTexture(gfx.H3d->LoadTextureFromFile((char*)name));
        return true;
    case MUSIC:
    case SAMPLE: {
        SoundPlayer player;
        player.Engine = z;
        bool loaded;
        if (c.K == MUSIC) {
            player.LoadMusic(name);
            loaded = player.Music != 0;
        } else {
            loaded = player.LoadSample(name) != 0;
        }
        BASS_Free();
        return loaded;
    }
    case CONTAINER:
        break;
    }
    return true;
}

bool OpenRig(ZQGfx* gfx)
{
    if (!gfx->Open())
        return false;
    CZarquel* z = gfx->Z;
    z->O3d->InitCache(25000);
    z->Fsf->Init(0x200000);
    z->OctreeAABB->Init(25000);
    G.Engine = z;
    G.PcxBuffer = (unsigned char*)z->Mem->GetMem(BF04_PCX_BYTES);
    G.PcxPalette = (unsigned char*)z->Mem->GetMem(BF04_PALETTE_BYTES);
    return true;
}

}  // namespace

// Runs the cases from ZQ_DAMAGE_FIRST on, on the matrix container.
ZQ_CHILD(DamageRun)
{
    const std::string tmf = ZQ_ReadFile(BF04_DATA);
    const std::vector<Case> cases = Cases(ReadContainer(tmf), tmf);
    ZQGfx gfx;
    if (!OpenRig(&gfx))
        ExitProcess(3);
    gfx.Z->Xfs->OpenMasterFile(Env("ZQ_DAMAGE_TMF").c_str());
    for (size_t i = atoi(Env("ZQ_DAMAGE_FIRST").c_str()); i < cases.size() && cases[i].K != CONTAINER; i++) {
        char line[32];
        snprintf(line, sizeof line, "%zu ", i);
        Progress(line);
        Progress(Load(gfx, cases[i]) ? "loaded\n" : "quiet\n");
    }
}

// Opens the damaged container ZQ_DAMAGE_TMF and reads a file through it.
ZQ_CHILD(DamagedContainer)
{
    ZQGfx gfx;
    if (!OpenRig(&gfx))
        ExitProcess(3);
    gfx.Z->Xfs->OpenMasterFile(Env("ZQ_DAMAGE_TMF").c_str());
    const Case path = {PATH, "data\\camera1.tcp", "", ""};
    Load(gfx, path);
    const Case object = {OBJECT, "data\\envmap\\env.3do", "", ""};
    Load(gfx, object);
}

TEST(Damage, EveryDamagedAssetLoadsOrEndsWithAMessageNamingIt)
{
    const std::string tmf = ZQ_ReadFile(BF04_DATA);
    ASSERT_GT(tmf.size(), sizeof(ZTMF_HEADER)) << BF04_DATA << " missing: build first (scripts/zq build)";
    std::vector<Entry> entries = ReadContainer(tmf);
    const std::vector<Case> cases = Cases(entries, tmf);
    for (const Case& c : cases)
        if (c.K == CONTAINER)
            ZQ_WriteFile(c.Name, c.Bytes);
        else
            entries.push_back({c.Name, c.Bytes});
    const std::string matrix = ZQ_TempPath("damaged.tmf"), progress = ZQ_TempPath("damaged.progress");
    ZQ_WriteFile(matrix, WriteContainer(entries));
    SetEnvironmentVariableA("ZQ_DAMAGE_PROGRESS", progress.c_str());

    enum { LOADED, REFUSED, QUIET, OTHER };
    int tally[CONTAINER + 1][4] = {};
    // How a child that ended in case `c` ended: refused with one box naming
    // the file, or a fault.
    auto ended = [&](const Case& c, const ZQChild& child, std::vector<std::string> names) {
        bool named = false;
        for (const std::string& name : names)
            named |= child.Boxes.size() == 1 && child.Boxes[0].Text.find(name) != std::string::npos;
        // The game's own message for too few points names none.
        named |= child.Boxes.size() == 1 && child.Boxes[0].Text == SPLINE_MESSAGE;
        if (!child.TimedOut && child.ExitCode == 1 && named) {
            tally[c.K][REFUSED]++;
            return;
        }
        tally[c.K][OTHER]++;
        ADD_FAILURE() << c.Damage << " (" << c.Name << "): " << (child.TimedOut ? "hung" : "ended with exit code ")
                      << (child.TimedOut ? "" : std::to_string(child.ExitCode)) << ", " << child.Boxes.size()
                      << " boxes" << (child.Boxes.empty() ? "" : ": \"" + child.Boxes[0].Text + "\"");
    };

    SetEnvironmentVariableA("ZQ_DAMAGE_TMF", matrix.c_str());
    size_t next = 0;
    while (next < cases.size() && cases[next].K != CONTAINER) {
        DeleteFileA(progress.c_str());
        SetEnvironmentVariableA("ZQ_DAMAGE_FIRST", std::to_string(next).c_str());
        const ZQChild child = ZQ_RunChild("DamageRun", 120000);
        // Lines "<case> loaded|quiet"; a last line without an outcome is
        // the case the child ended in.
        const std::string log = ZQ_ReadFile(progress.c_str());
        size_t at = 0, stopped = SIZE_MAX;
        while (at < log.size()) {
            size_t end = log.find('\n', at);
            const std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
            const size_t index = strtoul(line.c_str(), nullptr, 10);
            if (end == std::string::npos) {
                stopped = index;
                break;
            }
            tally[cases[index].K][line.find("quiet") != std::string::npos ? QUIET : LOADED]++;
            next = index + 1;
            at = end + 1;
        }
        if (stopped == SIZE_MAX) {
            if (child.ExitCode != 0 || child.TimedOut || child.Boxes.size()) {
                ADD_FAILURE() << "the child ended before its first case: exit code " << child.ExitCode;
                return;
            }
            break;
        }
        // A damaged material may name a texture that is not there: the box
        // names that file, in the material's folder.
        ended(cases[stopped], child, {cases[stopped].Name, "Error opening file: data\\soldier\\"});
        next = stopped + 1;
    }
    for (size_t i = next; i < cases.size(); i++) {
        SetEnvironmentVariableA("ZQ_DAMAGE_TMF", cases[i].Name.c_str());
        const ZQChild child = ZQ_RunChild("DamagedContainer", 60000);
        if (child.ExitCode == 0 && child.Boxes.empty() && !child.TimedOut)
            tally[CONTAINER][LOADED]++;
        else
            ended(cases[i], child, {cases[i].Name, "data\\camera1.tcp", "data\\envmap\\env.3do"});
        DeleteFileA(cases[i].Name.c_str());
    }
    DeleteFileA(matrix.c_str());
    DeleteFileA(progress.c_str());
    int total[4] = {};
    for (int k = 0; k <= CONTAINER; k++) {
        printf("damage matrix: %-9s %2d loaded, %2d refused with a message, %d refused by the audio library, %d other\n",
               KIND_NAMES[k], tally[k][LOADED], tally[k][REFUSED], tally[k][QUIET], tally[k][OTHER]);
        for (int o = 0; o < 4; o++)
            total[o] += tally[k][o];
        EXPECT_GT(tally[k][LOADED] + tally[k][REFUSED] + tally[k][QUIET] + tally[k][OTHER], 0)
            << KIND_NAMES[k] << ": its asset is not in the container";
    }
    printf("damage matrix: %zu cases, %d loaded, %d refused with a message naming the file, %d refused quietly by "
           "the audio library, %d other\n", cases.size(), total[LOADED], total[REFUSED], total[QUIET], total[OTHER]);
    EXPECT_EQ(total[LOADED] + total[REFUSED] + total[QUIET] + total[OTHER], (int)cases.size());
}
