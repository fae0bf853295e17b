// The generated content as the build leaves it: the container's names, a
// second generation byte for byte, the music in both players, the sounds,
// and the legibility of the TV pages.
#include "analysis.h"
#include "library.h"
#include "pictures.h"
#include "player.h"
#include "tmf.h"
#include "wav.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kDir = ZQ_CONTENT_DIR;

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string File(const std::string& name)
{
    std::string rel = name;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    return Slurp(fs::path(kDir) / "files" / rel);
}

std::string Shell(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// What the game loads by name: the asset table of its start-up, the TV's
// pages and noise, the overlays, and its music and samples.
std::vector<std::string> PictureAndSoundNames()
{
    std::vector<std::string> n = {
        "data\\light\\luz2d2.jpg", "data\\light\\luz1d2.jpg", "data\\light\\fire2d.jpg", "data\\disparo\\flare2.jpg",
        "data\\menu.jpg", "data\\credits.jpg", "data\\start.jpg", "data\\win.jpg", "data\\automatic.jpg",
        "data\\black.jpg", "data\\shadow.pcx", "data\\black2.jpg", "data\\layout.pcx", "data\\end.jpg",
        "data\\black3.jpg", "data\\numeros\\dospuntos.jpg", "data\\bf04c.xm", "data\\sounds\\disparo.wav",
        "data\\sounds\\start.wav", "data\\sounds\\explosion.wav", "data\\sounds\\walk2.wav",
        "data\\sounds\\complete.wav", "data\\sounds\\argh.wav", "data\\sounds\\tiagrita.wav"};
    char name[64];
    for (int i = 1; i <= 10; i++) {
        snprintf(name, sizeof(name), "data\\ruidotele\\%04d.jpg", i);
        n.push_back(name);
    }
    for (int i = 1; i <= 18; i++) {
        snprintf(name, sizeof(name), "data\\textos\\texto%02d.jpg", i);
        n.push_back(name);
    }
    for (int i = 0; i <= 9; i++) {
        snprintf(name, sizeof(name), "data\\numeros\\%d.jpg", i);
        n.push_back(name);
    }
    return n;
}

// The world half of the same table (objects, materials, octree, paths).
const char* const kWorldNames[] = {
    "data\\envmap\\env.3do",       "data\\envmap\\env.material",    "data\\soldier\\soldier.3do",
    "data\\soldier\\soldier.material", "data\\soldier\\weapon.3do", "data\\soldier\\weapon.material",
    "data\\scene\\scene.3do",      "data\\scene\\scene.material",   "data\\scene\\scene.oct",
    "data\\player\\player.3do",    "data\\player\\player.material", "data\\player\\weapon.3do",
    "data\\player\\weapon.material", "data\\explosion\\bola.3do",   "data\\explosion\\bola.material",
    "data\\camera1.tcp",           "data\\camera2.tcp"};

TEST(Content, ContainerHoldsEveryNameTheGameLoads)
{
    TmfDirectory dir;
    ASSERT_EQ(TmfReadDirectory(kDir + "/data.tmf", &dir), "") << "build the host tree first";
    auto find = [&](const std::string& name) -> const TmfEntry* {
        for (const TmfEntry& e : dir.Entries)
            if (TmfNameEquals(e.Name, name))
                return &e;
        return nullptr;
    };
    for (const std::string& name : PictureAndSoundNames()) {
        const TmfEntry* e = find(name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_GT(e->Size, 0u) << name;
    }
    // Every entry is one a group declares, and each is there once.
    std::set<std::string> declared, seen;
    std::istringstream names(Shell(ZQCONTENT_EXE " --names"));
    for (std::string line; std::getline(names, line);)
        declared.insert(line);
    for (const TmfEntry& e : dir.Entries) {
        EXPECT_TRUE(declared.count(e.Name)) << e.Name << " is packed but no group declares it";
        EXPECT_TRUE(seen.insert(e.Name).second) << e.Name << " packed twice";
        EXPECT_TRUE(e.Inside) << e.Name;
    }
    // The world's files come from their own groups: those declared must be
    // packed; the rest are reported until their groups exist.
    int pending = 0;
    for (const char* name : kWorldNames) {
        if (declared.count(name))
            EXPECT_NE(find(name), nullptr) << name;
        else
            pending++;
    }
    if (pending)
        printf("[ pending  ] %d world files are not generated yet\n", pending);
}

TEST(Content, SecondGenerationIsByteIdenticalAndWithinBudget)
{
    fs::path tmp = fs::temp_directory_path() / ("zqcontent_" + std::to_string(getpid()));
    auto t0 = std::chrono::steady_clock::now();
    std::string log = Shell(std::string(ZQCONTENT_EXE " --out '") + tmp.string() + "' --fonts '" ZQ_CONTENT_FONTS "' 2>&1");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("[ content  ] generated in %.2f s\n", seconds);
    EXPECT_LT(seconds, 120.0);
    std::string list = Slurp(tmp / "data.list");
    ASSERT_FALSE(list.empty()) << log;
    EXPECT_EQ(list, Slurp(fs::path(kDir) / "data.list"));
    std::istringstream lines(list);
    int files = 0;
    for (std::string line; std::getline(lines, line);) {
        size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos)
            continue;
        std::string rel = line.substr(tab + 1);
        EXPECT_TRUE(Slurp(tmp / rel) == Slurp(fs::path(kDir) / rel)) << line.substr(0, tab) << " differs";
        files++;
    }
    EXPECT_GT(files, 0);
    EXPECT_TRUE(Slurp(tmp / "contact_sheet.png") == Slurp(fs::path(kDir) / "contact_sheet.png"));
    Shell(std::string(TMFPACK_EXE " pack '") + (tmp / "data.tmf").string() + "' -l '" + (tmp / "data.list").string() + "'");
    EXPECT_TRUE(Slurp(tmp / "data.tmf") == Slurp(fs::path(kDir) / "data.tmf")) << "data.tmf differs";
    fs::remove_all(tmp);
}

// Mono renders without interpolation or ramps, as the audio library's
// reference tests compare them.
std::vector<float> RenderOurs(const zqa::Song& song, bool loop, double seconds)
{
    static zqa::Player player;
    player.mix.interpolate = false;
    player.mix.ramp = false;
    player.Start(&song, loop);
    std::vector<float> mono, buf(2048);
    while (!player.ended && mono.size() < size_t(seconds * 44100)) {
        std::fill(buf.begin(), buf.end(), 0.0f);
        player.Render(buf.data(), 1024);
        for (int i = 0; i < 1024; i++)
            mono.push_back((buf[2 * i] + buf[2 * i + 1]) * 0.5f);
    }
    return mono;
}

double Rms(const std::vector<float>& x, size_t from, size_t to)
{
    double s = 0;
    for (size_t i = from; i < to && i < x.size(); i++)
        s += double(x[i]) * x[i];
    return std::sqrt(s / std::max<size_t>(1, to - from));
}

TEST(Content, MusicPlaysOverTwoMinutesAlikeInBothPlayers)
{
    std::string xm = File("data\\bf04c.xm");
    static zqa::Song song;
    ASSERT_EQ(zqa::LoadSong((const uint8_t*)xm.data(), xm.size(), song), zqa::kLoadOk);
    EXPECT_GE(song.channels, 8);
    int enveloped = 0;
    for (const zqa::Instrument& ins : song.instruments)
        enveloped += ins.volEnv.on;
    EXPECT_GE(enveloped, 2) << "instruments with volume envelopes";
    zqa::Library lib;
    ASSERT_TRUE(lib.Init(44100));
    EXPECT_NE(lib.MusicLoad(xm.data(), (uint32_t)xm.size(), true), 0u);

    std::vector<float> ours = RenderOurs(song, false, 600);
    double seconds = ours.size() / 44100.0;
    printf("[ music    ] %.1f s before it loops\n", seconds);
    EXPECT_GE(seconds, 120.0);
    // Looping on: it goes on past the end, not into silence.
    std::vector<float> looped = RenderOurs(song, true, seconds + 6);
    EXPECT_GT(Rms(looped, ours.size() + 44100, ours.size() + 5 * 44100), 0.02);

    if (std::system("command -v openmpt123 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "openmpt123 is not installed; the reference comparison is skipped";
    fs::path tmp = fs::temp_directory_path() / ("zqmusic_" + std::to_string(getpid()));
    fs::create_directories(tmp);
    std::ofstream(tmp / "bf04c.xm", std::ios::binary) << xm;
    Shell("cd '" + tmp.string() + "' && openmpt123 --render --output-type wav --samplerate 44100 --no-float --filter 1 "
        "--ramping 0 --dither 0 --force -q bf04c.xm >/dev/null 2>&1");
    std::vector<float> ref = analysis::ReadWavMono((tmp / "bf04c.xm.wav").string());
    fs::remove_all(tmp);
    ASSERT_FALSE(ref.empty());
    EXPECT_NEAR(ref.size() / 44100.0, seconds, 0.5);
    double corr = analysis::Correlation(analysis::Envelope(ours, 441), analysis::Envelope(ref, 441));
    printf("[ music    ] loudness envelope correlation with openmpt123: %.4f\n", corr);
    EXPECT_GE(corr, 0.98);
}

TEST(Content, SoundsLoadAndTheFootstepsLoopWithoutAClick)
{
    zqa::Library lib;
    ASSERT_TRUE(lib.Init(44100));
    const char* names[] = {"disparo", "start", "explosion", "walk2", "complete", "argh", "tiagrita"};
    for (const char* n : names) {
        SCOPED_TRACE(n);
        std::string bytes = File(std::string("data\\sounds\\") + n + ".wav");
        zqa::WavData wav;
        ASSERT_TRUE(zqa::ReadWav((const uint8_t*)bytes.data(), bytes.size(), wav));
        EXPECT_EQ(wav.bits, 16);
        EXPECT_NE(lib.SampleLoad(bytes.data(), (uint32_t)bytes.size(), 5), 0u);
        int peak = 0;
        for (uint32_t i = 0; i < wav.left.length; i++)
            peak = std::max(peak, std::abs((int)wav.left.data[i]));
        EXPECT_GT(peak, 12000) << "too quiet";
        EXPECT_LT(wav.left.length, 3u * (uint32_t)wav.rate);
    }
    // A few traits that make each what it is: the shot falls in pitch, the
    // explosion rumbles low, the death lasts longer than the hit's cry.
    auto mono = [&](const char* n) {
        std::string bytes = File(std::string("data\\sounds\\") + n + ".wav");
        zqa::WavData w;
        zqa::ReadWav((const uint8_t*)bytes.data(), bytes.size(), w);
        std::vector<float> x(w.left.length);
        for (uint32_t i = 0; i < w.left.length; i++)
            x[i] = w.left.data[i] / 32768.0f;
        return x;
    };
    auto crossings = [](const std::vector<float>& x, double from, double to) {
        int n = 0;
        for (size_t i = size_t(from * 44100) + 1; i < size_t(to * 44100) && i < x.size(); i++)
            n += x[i - 1] < 0 && x[i] >= 0;
        return n / (to - from);
    };
    std::vector<float> shot = mono("disparo");
    EXPECT_GT(crossings(shot, 0.0, 0.03), 2 * crossings(shot, 0.1, 0.2));
    EXPECT_LT(crossings(mono("explosion"), 0.3, 1.0), 1500.0);
    EXPECT_GT(mono("tiagrita").size(), mono("argh").size());

    // The loop meets itself: last and first sample within one step of
    // 8-bit resolution, both in the quiet between two steps.
    std::string walk = File("data\\sounds\\walk2.wav");
    zqa::WavData wav;
    ASSERT_TRUE(zqa::ReadWav((const uint8_t*)walk.data(), walk.size(), wav));
    const int16_t* d = wav.left.data.data();
    uint32_t n = wav.left.length;
    EXPECT_LE(std::abs(d[n - 1] - d[0]), 128);
    EXPECT_LE(std::abs((int)d[0]), 128);
    // Two steps per loop, half a loop apart.
    std::vector<float> x(n);
    for (uint32_t i = 0; i < n; i++)
        x[i] = d[i] / 32768.0f;
    std::vector<size_t> steps = analysis::Onsets(x, 0.1f, 4000);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_NEAR((double)(steps[1] - steps[0]), n / 2.0, n * 0.02);
}

struct Grey {
    int W = 0, H = 0;
    std::vector<float> L;   // relative luminance 0..1
};

Grey DecodeLuminance(const std::string& jpeg)
{
    Grey g;
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, (const unsigned char*)jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    g.W = (int)c.output_width;
    g.H = (int)c.output_height;
    std::vector<unsigned char> row((size_t)g.W * 3);
    auto lin = [](unsigned char v) {
        float s = v / 255.0f;
        return s <= 0.04045f ? s / 12.92f : std::pow((s + 0.055f) / 1.055f, 2.4f);
    };
    while (c.output_scanline < c.output_height) {
        unsigned char* p = row.data();
        jpeg_read_scanlines(&c, &p, 1);
        for (int x = 0; x < g.W; x++)
            g.L.push_back(0.2126f * lin(row[x * 3]) + 0.7152f * lin(row[x * 3 + 1]) + 0.0722f * lin(row[x * 3 + 2]));
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return g;
}

// Legibility of the pages on the 640 x 480 screen, measured on the decoded
// textures below the title: each text line is a band of rows holding ink
// (pixels brighter than halfway from the ground to the brightest); its
// height in screen rows must be at least 14 (the x-height of 22 px type is
// 12) and the contrast ratio (L1 + 0.05) / (L2 + 0.05) between its ink
// (the mean of its inked pixels) and the ground (the median) at least 7.
TEST(Content, TextPagesAreLegibleOnTheScreen)
{
    double worstHeight = 1e9, worstContrast = 1e9;
    for (int page = 1; page <= CG_PAGE_COUNT; page++) {
        char name[64];
        snprintf(name, sizeof(name), "data\\textos\\texto%02d.jpg", page);
        SCOPED_TRACE(name);
        Grey g = DecodeLuminance(File(name));
        ASSERT_EQ(g.W, CG_PAGE_TEX);
        ASSERT_EQ(g.H, CG_PAGE_TEX);
        const double rowsPerScreenRow = (double)g.H / CG_SCREEN_H;
        const int top = (int)std::ceil(CG_PAGE_BODY_TOP * rowsPerScreenRow);
        std::vector<float> body(g.L.begin() + (size_t)top * g.W, g.L.end());
        std::vector<float> sorted = body;
        std::sort(sorted.begin(), sorted.end());
        float ground = sorted[sorted.size() / 2], brightest = sorted[sorted.size() * 999 / 1000];
        float ink = ground + (brightest - ground) * 0.5f;
        std::vector<bool> inked(g.H, false);
        for (int y = top; y < g.H; y++)
            for (int x = 0; x < g.W; x++)
                if (g.L[(size_t)y * g.W + x] > ink) {
                    inked[y] = true;
                    break;
                }
        int lines = 0;
        for (int y = top; y < g.H;) {
            if (!inked[y]) {
                y++;
                continue;
            }
            // A line's band: inked rows, bridging the darker scan lines
            // (gaps of up to three rows) inside it.
            int y0 = y;
            for (int end = y; end < g.H && end <= y + 3; end++)
                if (inked[end])
                    y = end + 1;
            while (y < g.H && inked[y]) {
                y++;
                for (int end = y; end < g.H && end <= y + 3; end++)
                    if (inked[end])
                        y = end + 1;
            }
            double light = 0;
            int count = 0;
            for (size_t i = (size_t)y0 * g.W; i < (size_t)y * g.W; i++)
                if (g.L[i] > ink) {
                    light += g.L[i];
                    count++;
                }
            light /= std::max(1, count);
            double height = (y - y0) / rowsPerScreenRow;
            double contrast = (light + 0.05) / (ground + 0.05);
            worstHeight = std::min(worstHeight, height);
            worstContrast = std::min(worstContrast, contrast);
            EXPECT_GE(height, 14.0) << "line at texture row " << y0;
            EXPECT_GE(contrast, 7.0) << "line at texture row " << y0;
            lines++;
        }
        EXPECT_GE(lines, 4);
    }
    printf("[ pages    ] smallest line %.1f screen rows, lowest contrast %.1f:1\n", worstHeight, worstContrast);
}

}  // namespace
