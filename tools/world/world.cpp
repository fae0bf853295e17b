#include "world.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <ft2build.h>
#include FT_FREETYPE_H

std::string WorldWriteFile(const std::string& path, const void* bytes, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return "cannot write " + path;
    const bool ok = fwrite(bytes, 1, size, f) == size;
    return fclose(f) == 0 && ok ? "" : "cannot write " + path;
}

static void W_Put32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b.push_back((uint8_t)(v >> (8 * i)));
}

std::string WorldWriteBmp(const std::string& path, const WorldImage& image)
{
    if (image.W <= 0 || image.H <= 0 || image.Px.size() != (size_t)image.W * image.H)
        return "bad picture for " + path;
    const uint32_t row = ((uint32_t)image.W * 3 + 3) & ~3u, data = row * image.H;
    std::vector<uint8_t> b = {'B', 'M'};
    W_Put32(b, 54 + data);
    W_Put32(b, 0);
    W_Put32(b, 54);
    W_Put32(b, 40);
    W_Put32(b, image.W);
    W_Put32(b, image.H);    // positive: rows bottom first
    b.push_back(1), b.push_back(0), b.push_back(24), b.push_back(0);
    for (int i = 0; i < 6; i++)
        W_Put32(b, 0);
    for (int y = image.H - 1; y >= 0; y--) {
        for (int x = 0; x < image.W; x++) {
            const uint32_t p = image.Px[(size_t)y * image.W + x];
            b.push_back(p & 255), b.push_back((p >> 8) & 255), b.push_back((p >> 16) & 255);
        }
        for (uint32_t pad = image.W * 3; pad < row; pad++)
            b.push_back(0);
    }
    return WorldWriteFile(path, b.data(), b.size());
}

std::string WorldBuildSpritePage(const std::string& texture, int w, int h, const std::vector<WorldSprite>& sprites,
                                 std::vector<uint8_t>* file)
{
    if (texture.empty() || texture.size() >= ZSPR_HEADER_BYTES)
        return "the page texture's name must have 1 to 71 characters";
    if (w <= 0 || h <= 0)
        return "bad page texture size";
    file->assign(ZSPR_HEADER_BYTES, 0);
    memcpy(file->data(), texture.data(), texture.size());
    for (const WorldSprite& s : sprites) {
        if (s.X < 0 || s.Y < 0 || s.Width <= 0 || s.Height <= 0 || s.X + s.Width > w || s.Y + s.Height > h)
            return "a sprite's rectangle lies outside the page texture";
        const float u0 = (float)s.X / w, v0 = (float)s.Y / h, u1 = (float)(s.X + s.Width) / w,
                    v1 = (float)(s.Y + s.Height) / h;
        const float dx = s.Size / 2, dy = s.Size * s.Height / s.Width / 2;
        // Corners 1 (top left), 2 (top right), 3 (bottom left), 4 (bottom right).
        const ZSPR_RECORD r = {{{u0, v0, dx, dy}, {u1, v0, dx, dy}, {u0, v1, dx, dy}, {u1, v1, dx, dy}}};
        const uint8_t* p = (const uint8_t*)&r;
        file->insert(file->end(), p, p + sizeof(r));
    }
    return "";
}

std::string WorldBuildFont(const std::string& ttf, int pixels, int size, int first, int last, WorldImage* image,
                           std::vector<uint8_t>* file)
{
    if (first < 0 || last > 255 || first > last || pixels <= 0 || size <= 0)
        return "bad font request";
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&lib))
        return "FreeType does not start";
    if (FT_New_Face(lib, ttf.c_str(), 0, &face)) {
        FT_Done_FreeType(lib);
        return "cannot read the font " + ttf;
    }
    FT_Set_Pixel_Sizes(face, 0, pixels);
    const int ascent = (int)(face->size->metrics.ascender >> 6);
    const int line = (int)((face->size->metrics.ascender - face->size->metrics.descender) >> 6);
    image->W = image->H = size;
    image->Px.assign((size_t)size * size, 0);
    file->clear();
    std::string error;
    int penX = 0, penY = 0;
    for (int code = first; code <= last && error.empty(); code++) {
        if (FT_Load_Char(face, code, FT_LOAD_RENDER)) {
            error = "the font has no glyph for code " + std::to_string(code);
            break;
        }
        const FT_GlyphSlot g = face->glyph;
        const int advance = (int)((g->advance.x + 63) >> 6);
        if (penX + advance > size)
            penX = 0, penY += line;
        if (penY + line > size) {
            error = "the glyphs do not fit a " + std::to_string(size) + " pixel picture";
            break;
        }
        for (unsigned r = 0; r < g->bitmap.rows; r++)
            for (unsigned c = 0; c < g->bitmap.width; c++) {
                const int x = penX + g->bitmap_left + (int)c, y = penY + ascent - g->bitmap_top + (int)r;
                if (x < penX || x >= penX + advance || y < penY || y >= penY + line)
                    continue;
                const uint32_t a = g->bitmap.buffer[r * g->bitmap.pitch + c];
                image->Px[(size_t)y * size + x] = a << 16 | a << 8 | a;
            }
        const ZFNT_RECORD rec = {{(float)penX / size, (float)penY / size, (float)(penX + advance) / size,
                                  (float)(penY + line) / size},
                                 (uint32_t)code};
        const uint8_t* p = (const uint8_t*)&rec;
        file->insert(file->end(), p, p + sizeof(rec));
        penX += advance;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return error;
}

std::string WorldBuildScene(const std::vector<WorldSceneObject>& objects, const std::vector<std::string>& textures,
                            std::string* text)
{
    // The engine finds a key as the first substring of the text, so no key
    // may occur inside an earlier word.
    auto word = [](const std::string& w) {
        return !w.empty() && w.size() < 512 && w.find_first_of(" \r\n") == std::string::npos;
    };
    if (objects.size() > 512 || textures.size() > 500)
        return "a scene holds at most 512 objects and 500 textures";
    std::string t = "[OBJECTS]\n";
    std::vector<size_t> entry, section;
    for (const WorldSceneObject& o : objects) {
        if (!word(o.File) || !word(o.Key))
            return "object file names and keys are single words of 1 to 511 characters";
        t += o.File + " ";
        entry.push_back(t.size());
        t += o.Key + "\n";
    }
    t += "\n[TEXTURES]\n";
    for (const std::string& n : textures) {
        if (!word(n) || n.size() >= 500)
            return "texture names are single words of 1 to 499 characters";
        t += n + "\n";
    }
    t += "\n";
    for (const WorldSceneObject& o : objects) {
        section.push_back(t.size());
        t += o.Key + "\n";
        for (const std::string& m : o.Materials)
            t += m + "\n";
        t += "\n";
    }
    for (size_t i = 0; i < objects.size(); i++) {
        const size_t first = t.find(objects[i].Key);
        if (first != entry[i] || t.find(objects[i].Key, first + 1) != section[i])
            return "the key " + objects[i].Key + " occurs elsewhere before its place; the engine would take that";
    }
    *text = t;
    return "";
}
