// Writes the object and material files the Windows object tests and the
// object benchmark load, with the host writer.
#include <cstdio>
#include <filesystem>

#include "o3d_models.h"

namespace fs = std::filesystem;

// A 24-bit 8 x 8 BMP of one colour (0xRRGGBB).
static std::string Bmp(const std::string& path, uint32_t rgb)
{
    std::vector<uint8_t> b(54 + 8 * 8 * 3, 0);
    auto put32 = [&b](size_t at, uint32_t v) { memcpy(&b[at], &v, 4); };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, (uint32_t)b.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, 8);
    put32(22, 8);
    b[26] = 1;
    b[28] = 24;
    for (size_t p = 54; p < b.size(); p += 3) {
        b[p] = (uint8_t)rgb;
        b[p + 1] = (uint8_t)(rgb >> 8);
        b[p + 2] = (uint8_t)(rgb >> 16);
    }
    return O3dWriteFile(path, b);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: zq_o3d_fixtures FOLDER\n");
        return 2;
    }
    const std::string dir = argv[1];
    fs::create_directories(dir + "/mat");
    std::string err;
    auto check = [&err](const std::string& e) { if (err.empty()) err = e; };

    check(O3dWriteObject(dir + "/quad2.3do", O3dQuad2()));

    O3dObject old = O3dQuad2();
    old.Name = "old";
    old.Version = 0x1002;
    check(O3dWriteObject(dir + "/old.3do", old));

    O3dObject bare = O3dQuad2();
    bare.Name = "nomat";
    bare.Materials.clear();
    check(O3dWriteObject(dir + "/nomat.3do", bare));

    check(O3dWriteObject(dir + "/grid.3do", O3dGrid(8, 12, 3, 3)));
    check(O3dWriteObject(dir + "/bench5000.3do", O3dGrid(50, 50, 2, 1)));
    check(O3dWriteObject(dir + "/big.3do", O3dGrid(76, 76, 1, 4)));

    // Textures next to the material files (names are relative to them).
    check(Bmp(dir + "/mat/red.bmp", 0xC86432));
    check(Bmp(dir + "/mat/green.bmp", 0x80FF80));
    check(Bmp(dir + "/mat/key.bmp", 0x000000));

    std::vector<O3dMaterialRecord> grid(3);
    grid[0].Texture1 = "key.bmp";
    grid[0].ColorKeyOn = true;
    grid[0].Flags = ZO3D_COLORKEY;
    grid[1].Type = ZO3D_MAT_COLORED;
    grid[1].Color[0] = 0xFF0000FF;
    grid[1].Color[1] = 0xFF00FF00;
    grid[1].Color[2] = 0xFFFF0000;
    grid[2].Texture1 = "red.bmp";
    grid[2].Texture2 = "green.bmp";
    grid[2].Flags = ZO3D_SECONDMAP | ZRF_OP_MODULATE;
    check(O3dWriteMaterials(dir + "/mat/grid.material", grid));

    std::vector<O3dMaterialRecord> modulate(1);
    modulate[0] = grid[2];
    check(O3dWriteMaterials(dir + "/mat/modulate.material", modulate));

    // One record of an unknown type: skipped.
    std::vector<O3dMaterialRecord> skipped(1);
    skipped[0].Type = 7;
    skipped[0].Texture1 = "missing.bmp";
    check(O3dWriteMaterials(dir + "/mat/skipped.material", skipped));

    // A custom-shader material: vertex shader only, two textures on stages 0 and 1.
    const char* vsh = "vs_1_1\ndcl_position v0\nm4x4 oPos, v0, c0\nmov oD0, c4\n";
    check(O3dWriteFile(dir + "/mat/fx.vsh", std::vector<uint8_t>(vsh, vsh + strlen(vsh))));
    std::vector<O3dMaterialRecord> shader(1);
    shader[0].Texture1 = "red.bmp";
    shader[0].Texture2 = "green.bmp";
    shader[0].VertexShader = "fx.vsh";
    shader[0].Flags = ZO3D_CUSTOMSHADER;
    shader[0].Constants.push_back({4, ZO3D_SHADER_SLOT{0, 1, {0.25f, 0.5f, 0.75f, 1.0f}}});
    shader[0].Constants2.push_back({9, ZO3D_SHADER_SLOT{0, 1, {9, 9, 9, 9}}});
    check(O3dWriteMaterials(dir + "/mat/shader.material", shader));
    // Without a device to load into, so no textures either.
    shader[0].VertexShader.clear();
    shader[0].Texture1.clear();
    shader[0].Texture2.clear();
    check(O3dWriteMaterials(dir + "/mat/noshader.material", shader));

    if (!err.empty()) {
        fprintf(stderr, "zq_o3d_fixtures: %s\n", err.c_str());
        return 1;
    }
    return 0;
}
