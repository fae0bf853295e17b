#include "o3d.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------------------
// Files

std::string O3dReadFile(const std::string& path, std::vector<uint8_t>* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return "cannot open " + path;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool bad = ferror(f);
    fclose(f);
    return bad ? "cannot read " + path : "";
}

std::string O3dWriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return "cannot create " + path;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    return ok ? "" : "cannot write " + path;
}

template <class T> static void O3dPut(std::vector<uint8_t>* out, uint64_t at, const T& value)
{
    memcpy(out->data() + at, &value, sizeof(T));
}

template <class T> static T O3dGet(const std::vector<uint8_t>& in, uint64_t at)
{
    T value;
    memcpy(&value, in.data() + at, sizeof(T));
    return value;
}

// ---------------------------------------------------------------------------
// Objects

std::string O3dBuildImage(const O3dObject& o, std::vector<uint8_t>* image)
{
    const uint64_t R = o.Frames.size();
    if (R == 0)
        return "an object needs at least one frame";
    if (o.Frame >= R)
        return "current frame " + std::to_string(o.Frame) + " of " + std::to_string(R) + " frames";
    if (o.Name.size() >= ZO3D_NAME_BYTES)
        return "name longer than 15 characters: " + o.Name;
    const uint64_t V = o.Frames[0].Vertices.size(), F = o.Faces.size(), M = o.Materials.size();
    for (uint64_t r = 0; r < R; r++)
        if (o.Frames[r].Vertices.size() != V || o.Frames[r].Normals.size() != V)
            return "frame " + std::to_string(r) + " does not have " + std::to_string(V) + " vertices and normals";
    if (!o.Modules.empty() && o.Modules.size() != V)
        return "modules array does not have one entry per vertex";
    const uint64_t materials = M ? M : 1;
    uint64_t seconds = 0;
    for (uint64_t f = 0; f < F; f++) {
        const O3dFace& face = o.Faces[f];
        for (int c = 0; c < 3; c++)
            if (face.Vertex[c] >= V)
                return "face " + std::to_string(f) + " names vertex " + std::to_string(face.Vertex[c]) + " of " +
                       std::to_string(V);
        if (face.Material >= materials)
            return "face " + std::to_string(f) + " names material " + std::to_string(face.Material) + " of " +
                   std::to_string(M);
        seconds += face.HasSecondMap;
    }

    const uint64_t tables = sizeof(ZO3D_HEADER), frames = tables + 8 * R, modules = frames + R * V * 24,
                   faces = modules + 4 * V, secondMaps = faces + F * sizeof(ZO3D_FACE),
                   materialsAt = secondMaps + seconds * 24, size = materialsAt + M * sizeof(ZO3D_MATERIAL);
    if (size > 0xFFFFFFFFull)
        return "image of " + std::to_string(size) + " bytes: offsets are 32-bit";
    image->assign(size, 0);

    ZO3D_HEADER h;
    memset(&h, 0, sizeof(h));
    memcpy(h.Name, o.Name.data(), o.Name.size());
    h.Version = o.Version;
    h.ImageSize = (uint32_t)size;
    h.Position = o.Position;
    h.Frame = o.Frame;
    h.Angles = o.Angles;
    h.VertexCount = (uint32_t)V;
    h.FaceCount = (uint32_t)F;
    h.MaterialCount = (uint32_t)M;
    h.FrameCount = (uint32_t)R;
    h.FrameVertices = (uint32_t)tables;
    h.FrameNormals = (uint32_t)(tables + 4 * R);
    h.Modules = (uint32_t)modules;
    h.Faces = (uint32_t)faces;
    h.Materials = (uint32_t)materialsAt;   // without materials: the file size, where the spare one goes
    h.Factor = o.Factor;
    O3dPut(image, 0, h);

    for (uint64_t r = 0; r < R; r++) {
        const uint64_t v = frames + r * V * 24, n = v + V * 12;
        O3dPut(image, h.FrameVertices + 4 * r, (uint32_t)v);
        O3dPut(image, h.FrameNormals + 4 * r, (uint32_t)n);
        if (V) {
            memcpy(image->data() + v, o.Frames[r].Vertices.data(), V * 12);
            memcpy(image->data() + n, o.Frames[r].Normals.data(), V * 12);
        }
    }
    const std::vector<Vector3>& current = o.Frames[o.Frame].Normals;
    for (uint64_t i = 0; i < V; i++) {
        const Vector3& n = current[i];
        const float m = o.Modules.empty() ? sqrtf(n.x * n.x + n.y * n.y + n.z * n.z) : o.Modules[i];
        O3dPut(image, modules + 4 * i, m);
    }
    const uint32_t stride = o.Version < ZO3D_VERSION ? ZO3D_OLD_CORNER_STRIDE : 1;
    uint64_t second = secondMaps;
    for (uint64_t f = 0; f < F; f++) {
        const O3dFace& in = o.Faces[f];
        ZO3D_FACE face;
        memset(&face, 0, sizeof(face));
        for (int c = 0; c < 3; c++)
            face.Vertex[c] = in.Vertex[c] * stride;
        memcpy(face.Map, in.Map, sizeof(face.Map));
        face.Material = in.Material;
        if (in.HasSecondMap) {
            face.SecondMap = (uint32_t)second;
            memcpy(image->data() + second, in.SecondMap, 24);
            second += 24;
        }
        O3dPut(image, faces + f * sizeof(ZO3D_FACE), face);
    }
    if (M)
        memcpy(image->data() + materialsAt, o.Materials.data(), M * sizeof(ZO3D_MATERIAL));

    char why[ZO3D_WHY_BYTES];
    if (!ZO3D_CheckImage(image->data(), image->size(), why))
        return std::string("written image fails the engine's check: ") + why;
    return "";
}

std::string O3dWriteObject(const std::string& path, const O3dObject& object)
{
    std::vector<uint8_t> image;
    std::string err = O3dBuildImage(object, &image);
    return err.empty() ? O3dWriteFile(path, image) : err;
}

std::string O3dParseImage(const std::vector<uint8_t>& image, O3dObject* o)
{
    char why[ZO3D_WHY_BYTES];
    if (!ZO3D_CheckImage(image.data(), image.size(), why))
        return why;
    const ZO3D_HEADER h = O3dGet<ZO3D_HEADER>(image, 0);
    *o = O3dObject();
    o->Name.assign(h.Name, strnlen(h.Name, ZO3D_NAME_BYTES));
    o->Version = h.Version;
    o->Position = h.Position;
    o->Angles = h.Angles;
    o->Frame = h.Frame;
    o->Factor = h.Factor;
    const uint32_t V = h.VertexCount;
    o->Frames.resize(h.FrameCount);
    for (uint32_t r = 0; r < h.FrameCount; r++) {
        const uint32_t v = O3dGet<uint32_t>(image, h.FrameVertices + 4ull * r);
        const uint32_t n = O3dGet<uint32_t>(image, h.FrameNormals + 4ull * r);
        o->Frames[r].Vertices.resize(V);
        o->Frames[r].Normals.resize(V);
        if (V) {
            memcpy(o->Frames[r].Vertices.data(), image.data() + v, V * 12ull);
            memcpy(o->Frames[r].Normals.data(), image.data() + n, V * 12ull);
        }
    }
    o->Modules.resize(V);
    if (V)
        memcpy(o->Modules.data(), image.data() + h.Modules, V * 4ull);
    const uint32_t stride = h.Version < ZO3D_VERSION ? ZO3D_OLD_CORNER_STRIDE : 1;
    o->Faces.resize(h.FaceCount);
    for (uint32_t f = 0; f < h.FaceCount; f++) {
        const ZO3D_FACE face = O3dGet<ZO3D_FACE>(image, h.Faces + (uint64_t)f * sizeof(ZO3D_FACE));
        O3dFace& out = o->Faces[f];
        for (int c = 0; c < 3; c++)
            out.Vertex[c] = face.Vertex[c] / stride;
        memcpy(out.Map, face.Map, sizeof(out.Map));
        out.Material = face.Material;
        out.HasSecondMap = face.SecondMap != 0;
        if (out.HasSecondMap)
            memcpy(out.SecondMap, image.data() + face.SecondMap, 24);
    }
    o->Materials.resize(h.MaterialCount);
    if (h.MaterialCount)
        memcpy(o->Materials.data(), image.data() + h.Materials, h.MaterialCount * sizeof(ZO3D_MATERIAL));
    return "";
}

// ---------------------------------------------------------------------------
// Material files

struct O3dNameField {
    std::string O3dMaterialRecord::*Name;
    size_t Offset;
};
static const O3dNameField O3D_NAMES[] = {
    {&O3dMaterialRecord::Texture1, offsetof(ZO3D_MATFILE_RECORD, Texture1)},
    {&O3dMaterialRecord::Texture2, offsetof(ZO3D_MATFILE_RECORD, Texture2)},
    {&O3dMaterialRecord::Texture4, offsetof(ZO3D_MATFILE_RECORD, Texture4)},
    {&O3dMaterialRecord::BumpMap, offsetof(ZO3D_MATFILE_RECORD, BumpMap)},
    {&O3dMaterialRecord::Texture5, offsetof(ZO3D_MATFILE_RECORD, Texture5)},
    {&O3dMaterialRecord::PixelShader, offsetof(ZO3D_MATFILE_RECORD, PixelShader)},
    {&O3dMaterialRecord::VertexShader, offsetof(ZO3D_MATFILE_RECORD, VertexShader)},
};

std::string O3dBuildMaterials(const std::vector<O3dMaterialRecord>& records, std::vector<uint8_t>* file)
{
    const uint64_t size = sizeof(ZO3D_MATFILE_HEADER) + records.size() * sizeof(ZO3D_MATFILE_RECORD);
    file->assign(size, 0);
    ZO3D_MATFILE_HEADER h = {0, (uint32_t)records.size(), (uint32_t)size};
    O3dPut(file, 0, h);
    for (size_t i = 0; i < records.size(); i++) {
        const O3dMaterialRecord& in = records[i];
        ZO3D_MATFILE_RECORD* r = (ZO3D_MATFILE_RECORD*)(file->data() + sizeof(h) + i * sizeof(ZO3D_MATFILE_RECORD));
        for (const O3dNameField& n : O3D_NAMES) {
            const std::string& name = in.*n.Name;
            if (name.size() >= ZO3D_MATFILE_NAME_BYTES)
                return "record " + std::to_string(i) + ": name longer than 127 characters: " + name;
            memcpy((char*)r + n.Offset, name.data(), name.size());
        }
        r->Alpha = in.Alpha;
        r->Type = in.Type;
        r->Flags = in.Flags;
        r->ColorKey = in.ColorKey;
        memcpy(r->Color, in.Color, sizeof(r->Color));
        r->AlphaTexture = in.AlphaTexture;
        r->ColorKeyOn = in.ColorKeyOn;
        for (int block = 0; block < 2; block++)
            for (const auto& c : block ? in.Constants2 : in.Constants) {
                if (c.first >= ZO3D_MATFILE_CONSTANTS)
                    return "record " + std::to_string(i) + ": constant register " + std::to_string(c.first) +
                           " (0 to 254)";
                (block ? r->Constants2 : r->Constants)[c.first] = c.second;
            }
    }
    return "";
}

std::string O3dWriteMaterials(const std::string& path, const std::vector<O3dMaterialRecord>& records)
{
    std::vector<uint8_t> file;
    std::string err = O3dBuildMaterials(records, &file);
    return err.empty() ? O3dWriteFile(path, file) : err;
}

std::string O3dParseMaterials(const std::vector<uint8_t>& file, std::vector<O3dMaterialRecord>* records)
{
    char why[ZO3D_WHY_BYTES];
    if (!ZO3D_CheckMaterialFile(file.data(), file.size(), UINT32_MAX, why))
        return why;
    const ZO3D_MATFILE_HEADER h = O3dGet<ZO3D_MATFILE_HEADER>(file, 0);
    records->assign(h.Count, O3dMaterialRecord());
    for (uint32_t i = 0; i < h.Count; i++) {
        const ZO3D_MATFILE_RECORD* r =
            (const ZO3D_MATFILE_RECORD*)(file.data() + sizeof(h) + (uint64_t)i * sizeof(ZO3D_MATFILE_RECORD));
        O3dMaterialRecord& out = (*records)[i];
        for (const O3dNameField& n : O3D_NAMES)
            out.*n.Name = (const char*)r + n.Offset;
        out.Type = r->Type;
        out.Flags = r->Flags;
        out.Alpha = r->Alpha;
        out.ColorKey = r->ColorKey;
        memcpy(out.Color, r->Color, sizeof(out.Color));
        out.AlphaTexture = r->AlphaTexture != 0;
        out.ColorKeyOn = r->ColorKeyOn != 0;
        for (uint32_t k = 0; k < ZO3D_MATFILE_CONSTANTS; k++) {
            if (r->Constants[k].Set)
                out.Constants.push_back({k, r->Constants[k]});
            if (r->Constants2[k].Set)
                out.Constants2.push_back({k, r->Constants2[k]});
        }
    }
    return "";
}

std::string O3dFlagNames(uint32_t flags)
{
    static const struct { uint32_t Bit; const char* Name; } names[] = {
        {ZO3D_GLENZ, "GLENZ"}, {ZO3D_COLORKEY, "COLORKEY"}, {ZO3D_ENVIRONMENT, "ENVIRONMENT"},
        {ZRF_ALPHABLEND, "ALPHABLEND"}, {ZO3D_SECONDMAP, "SECONDMAP"}, {ZO3D_SECONDENVIRONMENT, "SECONDENVIRONMENT"},
        {ZRF_OP_SUBTRACT, "SUBTRACT"}, {ZRF_OP_ADDSIGNED, "ADDSIGNED"}, {ZRF_OP_ADDSIGNED2X, "ADDSIGNED2X"},
        {ZRF_OP_ADDSMOOTH, "ADDSMOOTH"}, {ZRF_OP_MODULATE, "MODULATE"}, {ZRF_OP_MODULATE4X, "MODULATE4X"},
        {ZRF_OP_DOTPRODUCT3, "DOTPRODUCT3"}, {ZO3D_CUSTOMSHADER, "CUSTOMSHADER"}, {ZRF_CLAMP, "CLAMP"},
        {ZO3D_BUMPMAP, "BUMPMAP"}, {ZRF_ALPHATHRESHOLD, "ALPHATHRESHOLD"},
    };
    std::string out;
    for (const auto& n : names)
        if (flags & n.Bit) {
            out += out.empty() ? "" : "|";
            out += n.Name;
            flags &= ~n.Bit;
        }
    if (flags) {
        char rest[16];
        snprintf(rest, sizeof(rest), "0x%X", flags);
        out += out.empty() ? "" : "|";
        out += rest;
    }
    return out.empty() ? "0" : out;
}

// ---------------------------------------------------------------------------
// Pictures: an 8-bit grey PNG with stored (uncompressed) deflate blocks

static uint32_t O3dCrc(const uint8_t* p, size_t n, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < n; i++) {
        crc ^= p[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

static void O3dBigEndian(std::vector<uint8_t>* out, uint32_t v)
{
    const uint8_t b[4] = {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
    out->insert(out->end(), b, b + 4);
}

static void O3dChunk(std::vector<uint8_t>* png, const char* type, const std::vector<uint8_t>& data)
{
    O3dBigEndian(png, (uint32_t)data.size());
    const size_t start = png->size();
    png->insert(png->end(), type, type + 4);
    png->insert(png->end(), data.begin(), data.end());
    O3dBigEndian(png, O3dCrc(png->data() + start, png->size() - start));
}

static std::vector<uint8_t> O3dPng(const std::vector<uint8_t>& grey, uint32_t w, uint32_t h)
{
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < h; y++) {
        raw.push_back(0);   // filter: none
        raw.insert(raw.end(), grey.begin() + (size_t)y * w, grey.begin() + (size_t)(y + 1) * w);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0; ) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back((uint8_t)n);
        z.push_back((uint8_t)(n >> 8));
        z.push_back((uint8_t)~n);
        z.push_back((uint8_t)(~n >> 8));
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
        at += n;
        if (last)
            break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    O3dBigEndian(&z, b << 16 | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    O3dBigEndian(&ihdr, w);
    O3dBigEndian(&ihdr, h);
    const uint8_t rest[5] = {8, 0, 0, 0, 0};   // 8-bit grey, no interlace
    ihdr.insert(ihdr.end(), rest, rest + 5);
    O3dChunk(&png, "IHDR", ihdr);
    O3dChunk(&png, "IDAT", z);
    O3dChunk(&png, "IEND", {});
    return png;
}

std::string O3dRenderPng(const O3dObject& o, uint32_t frame, char axis, uint32_t size, const std::string& path)
{
    if (frame >= o.Frames.size())
        return "frame " + std::to_string(frame) + " of " + std::to_string(o.Frames.size());
    if (size < 8 || size > 4096)
        return "picture size " + std::to_string(size) + " (8 to 4096)";
    if (axis != 'x' && axis != 'y' && axis != 'z')
        return std::string("no view along ") + axis;
    // Screen a (right) and b (up) per view.
    auto project = [axis](const Vector3& v, float* a, float* b) {
        switch (axis) {
        case 'y': *a = v.x; *b = v.z; break;
        case 'x': *a = v.z; *b = v.y; break;
        default: *a = v.x; *b = v.y; break;
        }
    };
    const std::vector<Vector3>& vs = o.Frames[frame].Vertices;
    float lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
    for (const Vector3& v : vs) {
        float p[2];
        project(v, &p[0], &p[1]);
        for (int k = 0; k < 2; k++)
            if (std::isfinite(p[k])) {
                lo[k] = std::min(lo[k], p[k]);
                hi[k] = std::max(hi[k], p[k]);
            }
    }
    const float span = std::max({hi[0] - lo[0], hi[1] - lo[1], 1e-6f});
    const float scale = (float)(size - 9) / span;
    std::vector<uint8_t> grey((size_t)size * size, 0);
    auto pixel = [&](const Vector3& v, int* x, int* y) {
        float a, b;
        project(v, &a, &b);
        *x = std::isfinite(a) ? (int)lroundf(4 + (a - lo[0]) * scale) : 0;
        *y = std::isfinite(b) ? (int)lroundf(size - 5 - (b - lo[1]) * scale) : 0;
    };
    for (const O3dFace& f : o.Faces)
        for (int e = 0; e < 3; e++) {
            int x0, y0, x1, y1;
            pixel(vs[f.Vertex[e]], &x0, &y0);
            pixel(vs[f.Vertex[(e + 1) % 3]], &x1, &y1);
            const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0), sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
            for (int err = dx + dy;;) {
                if (x0 >= 0 && y0 >= 0 && x0 < (int)size && y0 < (int)size)
                    grey[(size_t)y0 * size + x0] = 255;
                if (x0 == x1 && y0 == y1)
                    break;
                const int e2 = 2 * err;
                if (e2 >= dy) { err += dy; x0 += sx; }
                if (e2 <= dx) { err += dx; y0 += sy; }
            }
        }
    return O3dWriteFile(path, O3dPng(grey, size, size));
}
