// Where the groups' files go, and the contact sheet of the pictures.
#include "content.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

static const int CG_THUMB_W = 240, CG_THUMB_H = 150;

void CgSink::Bytes(const std::string& name, const CgBytes& bytes)
{
    if (name.size() > CG_MAX_NAME) {
        Errors.push_back("name longer than " + std::to_string(CG_MAX_NAME) + " characters: " + name);
        return;
    }
    if (Files.size() >= CG_MAX_FILES) {
        Errors.push_back("more than " + std::to_string(CG_MAX_FILES) + " files (the engine's handle table): " + name);
        return;
    }
    for (const Written& w : Files)
        if (w.Name == name) {
            Errors.push_back("written twice: " + name);
            return;
        }
    std::string rel = name;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    fs::path path = fs::path(Folder) / rel;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        Errors.push_back("cannot write " + path.string());
        if (f)
            fclose(f);
        return;
    }
    fclose(f);
    Files.push_back({name, rel, bytes.size()});
}

void CgSink::CG_Thumb(const std::string& name, const CgImage& img)
{
    float k = std::min((float)CG_THUMB_W / img.W, (float)CG_THUMB_H / img.H);
    int w = std::max(1, (int)(img.W * k)), h = std::max(1, (int)(img.H * k));
    Thumbs.push_back({name, img.W, img.H, CgResample(img, w, h)});
}

static CgImage CG_Grey(const CgMask& m)
{
    CgImage img(m.W, m.H);
    for (size_t i = 0; i < m.A.size(); i++)
        img.Px[i * 3] = img.Px[i * 3 + 1] = img.Px[i * 3 + 2] = m.A[i];
    return img;
}

void CgSink::Jpeg(const std::string& name, const CgImage& img, int quality, bool fullChroma)
{
    Bytes(name, CgJpeg(img, quality, fullChroma));
    CG_Thumb(name, img);
}

void CgSink::JpegGrey(const std::string& name, const CgMask& m, int quality)
{
    Bytes(name, CgJpegGrey(m, quality));
    CG_Thumb(name, CG_Grey(m));
}

void CgSink::PcxAlpha(const std::string& name, const CgMask& m)
{
    Bytes(name, CgPcxAlpha(m));
    CG_Thumb(name, CG_Grey(m));
}

void CgSink::Report(const std::string& file, const CgBytes& bytes)
{
    fs::path path = fs::path(Folder).parent_path() / file;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        Errors.push_back("cannot write " + path.string());
    if (f)
        fclose(f);
}

std::vector<std::string> CgNumbered(const char* format, int first, int last)
{
    std::vector<std::string> out;
    char name[CG_MAX_NAME + 1];
    for (int i = first; i <= last; i++) {
        snprintf(name, sizeof(name), format, i);
        out.push_back(name);
    }
    return out;
}

CgBytes CgContactSheet(const CgSink& sink)
{
    const int cellW = CG_THUMB_W + 16, cellH = CG_THUMB_H + 40, cols = 6;
    int rows = ((int)sink.Thumbs.size() + cols - 1) / cols;
    CgImage sheet(cols * cellW + 16, rows * cellH + 56, CgRgb(0x202024));
    CgTextLook title;
    title.Top = title.Bottom = CgRgb(0xE8E8F0);
    CgDrawText(sheet, sink.Fonts.Bold, "brolfest04 pictures: every picture in data.tmf, at its texture's aspect",
               18, 16, 32, CG_LEFT, title);
    CgTextLook label;
    label.Top = label.Bottom = CgRgb(0xC8C8D0);
    for (size_t i = 0; i < sink.Thumbs.size(); i++) {
        const CgSink::Thumb& t = sink.Thumbs[i];
        int cx = 16 + (int)(i % cols) * cellW, cy = 48 + (int)(i / cols) * cellH;
        // A checker behind shows where a picture is black.
        CgImage back(t.Small.W + 2, t.Small.H + 2, CgRgb(0x5A5A60));
        CgCopy(sheet, back, cx + (CG_THUMB_W - t.Small.W) / 2 - 1, cy + (CG_THUMB_H - t.Small.H) / 2 - 1);
        CgCopy(sheet, t.Small, cx + (CG_THUMB_W - t.Small.W) / 2, cy + (CG_THUMB_H - t.Small.H) / 2);
        char size[32];
        snprintf(size, sizeof(size), "  %dx%d", t.W, t.H);
        CgDrawText(sheet, sink.Fonts.Sans, t.Name + size, 12, cx, cy + CG_THUMB_H + 18, CG_LEFT, label);
    }
    return CgPng(sheet);
}
