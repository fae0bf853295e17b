#include "encode.h"
#include "format.h"
#include "zpcx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

// libjpeg writes through a memory destination it grows itself.
static CgBytes CG_JpegEncode(const uint8_t* pixels, int w, int h, int components, int quality, bool fullChroma)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = (JDIMENSION)w;
    c.image_height = (JDIMENSION)h;
    c.input_components = components;
    c.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.dct_method = JDCT_ISLOW;   // exact integer DCT: the same bytes everywhere
    c.optimize_coding = TRUE;
    c.write_JFIF_header = TRUE;
    if (components == 3) {
        int f = fullChroma ? 1 : 2;
        c.comp_info[0].h_samp_factor = f;
        c.comp_info[0].v_samp_factor = f;
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = (JSAMPROW)(pixels + (size_t)c.next_scanline * w * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    CgBytes out(buffer, buffer + size);
    jpeg_destroy_compress(&c);
    free(buffer);
    return out;
}

CgBytes CgJpeg(const CgImage& img, int quality, bool fullChroma)
{
    std::vector<uint8_t> rgb = CgToRgb8(img);
    return CG_JpegEncode(rgb.data(), img.W, img.H, 3, quality, fullChroma);
}

CgBytes CgJpegGrey(const CgMask& m, int quality)
{
    std::vector<uint8_t> g = CgMaskTo8(m);
    return CG_JpegEncode(g.data(), m.W, m.H, 1, quality, true);
}

static void CG_PngWrite(png_structp png, png_bytep data, png_size_t n)
{
    CgBytes* out = (CgBytes*)png_get_io_ptr(png);
    out->insert(out->end(), data, data + n);
}

CgBytes CgPng(const CgImage& img)
{
    CgBytes out;
    std::vector<uint8_t> rgb = CgToRgb8(img);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return CgBytes();
    }
    png_set_write_fn(png, &out, CG_PngWrite, nullptr);
    png_set_IHDR(png, info, (png_uint_32)img.W, (png_uint_32)img.H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.H; y++)
        png_write_row(png, rgb.data() + (size_t)y * img.W * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

CgBytes CgPcxAlpha(const CgMask& m)
{
    std::vector<uint8_t> pix = CgMaskTo8(m);
    ZPCX_HEADER h;
    memset(&h, 0, sizeof(h));
    h.Manufacturer = 10;
    h.Version = 5;
    h.Encoding = 1;
    h.BitsPerPixel = 8;
    h.XMax = (uint16_t)(m.W - 1);
    h.YMax = (uint16_t)(m.H - 1);
    h.HDpi = h.VDpi = 72;
    h.Planes = 1;
    h.BytesPerLine = (uint16_t)(m.W + (m.W & 1));   // rows are an even number of bytes
    h.PaletteInfo = 2;                              // grey scale
    CgBytes out((const uint8_t*)&h, (const uint8_t*)&h + sizeof(h));
    for (int y = 0; y < m.H; y++) {
        const uint8_t* row = &pix[(size_t)y * m.W];
        int n = h.BytesPerLine;
        for (int x = 0; x < n;) {
            uint8_t v = x < m.W ? row[x] : 0;
            int run = 1;
            while (x + run < n && run < ZPCX_RUN_MAX && (x + run < m.W ? row[x + run] : 0) == v)
                run++;
            // A single byte below the run marks stands for itself.
            if (run == 1 && v < ZPCX_RUN_MIN - 1)
                out.push_back(v);
            else {
                out.push_back((uint8_t)(0xC0 | run));
                out.push_back(v);
            }
            x += run;
        }
    }
    out.push_back(12);
    for (int i = 0; i < 256; i++)
        for (int c = 0; c < 3; c++)
            out.push_back((uint8_t)i);
    return out;
}

// The RIFF records are the audio library's own (its format.h).
static void CG_Le(uint8_t* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}

CgBytes CgWav16(const std::vector<float>& samples, int rate)
{
    const uint32_t bytes = (uint32_t)samples.size() * 2;
    zqa::RiffHead riff;
    zqa::RiffChunkHead fmt, data;
    zqa::WavFormat format;
    memcpy(riff.riff, "RIFF", 4);
    CG_Le(riff.size, (uint32_t)(4 + 2 * sizeof(zqa::RiffChunkHead) + sizeof(zqa::WavFormat)) + bytes, 4);
    memcpy(riff.wave, "WAVE", 4);
    memcpy(fmt.id, "fmt ", 4);
    CG_Le(fmt.size, sizeof(zqa::WavFormat), 4);
    CG_Le(format.formatTag, 1, 2);   // PCM
    CG_Le(format.channels, 1, 2);
    CG_Le(format.sampleRate, (uint32_t)rate, 4);
    CG_Le(format.byteRate, (uint32_t)rate * 2, 4);
    CG_Le(format.blockAlign, 2, 2);
    CG_Le(format.bitsPerSample, 16, 2);
    memcpy(data.id, "data", 4);
    CG_Le(data.size, bytes, 4);
    CgBytes b;
    for (const auto& part : {std::make_pair((const uint8_t*)&riff, sizeof(riff)),
                             std::make_pair((const uint8_t*)&fmt, sizeof(fmt)),
                             std::make_pair((const uint8_t*)&format, sizeof(format)),
                             std::make_pair((const uint8_t*)&data, sizeof(data))})
        b.insert(b.end(), part.first, part.first + part.second);
    for (float s : samples) {
        uint8_t v[2];
        CG_Le(v, (uint16_t)(int16_t)std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f), 2);
        b.insert(b.end(), v, v + 2);
    }
    return b;
}
