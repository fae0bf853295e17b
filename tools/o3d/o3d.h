// Writing and reading ".3do" object images and ".material" files on the
// host. The record layouts and the soundness check are the engine's own
// (zo3dfile.h, zo3dcheck.h). Every operation returns an empty string on
// success and a one-line error otherwise.
#ifndef TOOLS_O3D_H
#define TOOLS_O3D_H

#include <cstdint>
#include <string>
#include <vector>

#include "zo3dcheck.h"
#include "zo3dfile.h"

struct O3dFace {
    uint32_t Vertex[3] = {0, 0, 0};   // indices, whatever the version written
    float Map[6] = {0, 0, 0, 0, 0, 0};
    uint32_t Material = 0;
    bool HasSecondMap = false;
    float SecondMap[6] = {0, 0, 0, 0, 0, 0};
};

struct O3dFrame {
    std::vector<Vector3> Vertices;
    std::vector<Vector3> Normals;     // as many as vertices
};

struct O3dObject {
    std::string Name;                 // at most 15 characters
    uint32_t Version = ZO3D_VERSION;  // below ZO3D_VERSION: corners written as byte offsets
    Vector3 Position = {0, 0, 0};
    Vector3 Angles = {0, 0, 0};
    uint32_t Frame = 0;
    float Factor = 0;
    std::vector<O3dFrame> Frames;     // at least one, all with the same vertex count
    std::vector<float> Modules;       // empty: lengths of the current frame's normals
    std::vector<O3dFace> Faces;
    std::vector<ZO3D_MATERIAL> Materials;   // may be empty: the engine adds a spare one
};

// Lays the object out (header, frame tables, each frame's vertices and
// normals, modules, faces, second mappings, materials, 4-byte aligned) and
// checks the result as the engine will.
std::string O3dBuildImage(const O3dObject& object, std::vector<uint8_t>* image);
std::string O3dWriteObject(const std::string& path, const O3dObject& object);
// Checks an image and reads it back (corners as indices, version as stored).
std::string O3dParseImage(const std::vector<uint8_t>& image, O3dObject* object);

struct O3dMaterialRecord {
    std::string Texture1, Texture2, Texture4, BumpMap, Texture5, PixelShader, VertexShader;   // < 128 chars
    uint32_t Type = ZO3D_MAT_TEXTURED;
    uint32_t Flags = 0;
    uint8_t Alpha = 0;
    uint32_t ColorKey = 0;
    uint32_t Color[3] = {0, 0, 0};
    bool AlphaTexture = false;
    bool ColorKeyOn = false;
    // Shader constant registers that are set: (register, slot).
    std::vector<std::pair<uint32_t, ZO3D_SHADER_SLOT>> Constants, Constants2;
};

std::string O3dBuildMaterials(const std::vector<O3dMaterialRecord>& records, std::vector<uint8_t>* file);
std::string O3dWriteMaterials(const std::string& path, const std::vector<O3dMaterialRecord>& records);
std::string O3dParseMaterials(const std::vector<uint8_t>& file, std::vector<O3dMaterialRecord>* records);

std::string O3dReadFile(const std::string& path, std::vector<uint8_t>* bytes);
std::string O3dWriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Names of the flag bits, "GLENZ|SECONDMAP|0x400" style; "0" for none.
std::string O3dFlagNames(uint32_t flags);

// A grey picture of a frame's edges seen along one axis ('z': front, x-y;
// 'y': top, x-z; 'x': side, z-y), fitted into size x size pixels, as PNG.
std::string O3dRenderPng(const O3dObject& object, uint32_t frame, char axis, uint32_t size, const std::string& path);

#endif
