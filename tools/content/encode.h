// File encoders of the generator. Each returns the whole file; the same
// input always gives the same bytes (no time stamps, no comments with
// versions).
#ifndef ZQCONTENT_ENCODE_H
#define ZQCONTENT_ENCODE_H

#include <cstdint>
#include <vector>

#include "image.h"

typedef std::vector<uint8_t> CgBytes;

// Baseline JPEG. fullChroma keeps colour at full resolution (4:4:4), for
// pictures with small coloured text; otherwise 4:2:0.
CgBytes CgJpeg(const CgImage& img, int quality, bool fullChroma);
// Grey-scale JPEG (the alpha-only pictures).
CgBytes CgJpegGrey(const CgMask& m, int quality);
// RGB PNG for people (contact sheets, maps).
CgBytes CgPng(const CgImage& img);
// 8-bit run-length PCX whose pixel values are the mask's coverage 0..255,
// with a grey palette (entry i = (i, i, i)).
CgBytes CgPcxAlpha(const CgMask& m);
// 16-bit PCM mono RIFF WAV; samples are clamped to -1..1.
CgBytes CgWav16(const std::vector<float>& samples, int rate);

#endif
