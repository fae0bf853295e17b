// Writing the files of the engine's application services on the host:
// sprite pages, bitmap fonts (glyphs rasterised from a TrueType font with
// FreeType) and scene description files, plus the 24-bit BMP pictures their
// textures are. Record layouts are the engine's (zsprfile.h). Every
// operation returns an empty string on success and a one-line error
// otherwise.
#ifndef TOOLS_WORLD_H
#define TOOLS_WORLD_H

#include <cstdint>
#include <string>
#include <vector>

#include "zsprfile.h"

// A picture: 0xRRGGBB pixels, rows top first.
struct WorldImage {
    int W = 0, H = 0;
    std::vector<uint32_t> Px;
};
std::string WorldWriteBmp(const std::string& path, const WorldImage& image);

// A sprite cut out of a page texture of w x h pixels: the rectangle (x, y,
// width, height) in pixels, drawn size x size world units around its centre.
struct WorldSprite {
    int X, Y, Width, Height;
    float Size;
};
std::string WorldBuildSpritePage(const std::string& texture, int w, int h, const std::vector<WorldSprite>& sprites,
                                 std::vector<uint8_t>* file);

// Rasterises the codes first..last of a TrueType font at `pixels` pixels into
// a white-on-black picture of size x size (each glyph one cell as wide as its
// advance and as tall as the line) and the matching font file. With the
// engine's base size set to `size`, glyphs draw at their pixel size.
std::string WorldBuildFont(const std::string& ttf, int pixels, int size, int first, int last, WorldImage* image,
                           std::vector<uint8_t>* file);

// A scene file: objects (file, key), textures, and one material section per
// object (lines "TEXTURED name OPTIONS" or "COLORED c1 c2 c3 OPTIONS").
struct WorldSceneObject {
    std::string File, Key;
    std::vector<std::string> Materials;
};
std::string WorldBuildScene(const std::vector<WorldSceneObject>& objects, const std::vector<std::string>& textures,
                            std::string* text);

std::string WorldWriteFile(const std::string& path, const void* bytes, size_t size);

#endif
