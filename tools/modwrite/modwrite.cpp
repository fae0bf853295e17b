#include "modwrite.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "zmod.h"

namespace modwrite {

namespace {

struct Sample {
    std::string wave = "silence";
    int cycle = 32, length = -1, volume = 64, finetune = 0, amp = 100;
    int loopStart = 0, loopLength = -1;   // -1: the whole sample
    bool loop = true;
    bool used = false;
};

struct Cell {
    uint16_t period = 0;
    uint8_t sample = 0, effect = 0, param = 0;
};

typedef std::vector<Cell> Pattern;   // 64 rows x 4 channels

std::vector<std::string> Words(const std::string& s)
{
    std::istringstream in(s);
    std::vector<std::string> w;
    std::string t;
    while (in >> t)
        w.push_back(t);
    return w;
}

bool Number(const std::string& s, int& v, int base = 10)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    long n = std::strtol(s.c_str(), &end, base);
    if (*end)
        return false;
    v = int(n);
    return true;
}

int8_t WaveSample(const Sample& s, int i, uint32_t& noise)
{
    double phase = double(i % s.cycle) / s.cycle;
    double v = 0;
    if (s.wave == "sine")
        v = std::sin(2 * 3.14159265358979323846 * phase);
    else if (s.wave == "square")
        v = phase < 0.5 ? 1 : -1;
    else if (s.wave == "saw")
        v = 2 * phase - 1;
    else if (s.wave == "triangle")
        v = phase < 0.5 ? 4 * phase - 1 : 3 - 4 * phase;
    else if (s.wave == "noise") {
        noise = noise * 1664525u + 1013904223u;
        v = double(int32_t(noise) >> 16) / 32768.0;
    }
    return int8_t(std::lround(v * s.amp));
}

bool ParseCell(const std::string& text, Cell& cell, std::string& why)
{
    std::vector<std::string> w = Words(text);
    if (w.empty())
        return true;
    if (w[0] != "---") {
        int raw;
        if ((w[0][0] == 'P' || w[0][0] == 'p') && Number(w[0].substr(1), raw) && raw > 0 && raw < 4096)
            cell.period = uint16_t(raw);
        else if (!(cell.period = NotePeriod(w[0])))
            return why = "no note \"" + w[0] + "\"", false;
    }
    if (w.size() > 1 && w[1] != "..") {
        int n;
        if (!Number(w[1], n) || n < 0 || n > ZMOD_SAMPLES)
            return why = "no sample \"" + w[1] + "\"", false;
        cell.sample = uint8_t(n);
    }
    if (w.size() > 2 && w[2] != "...") {
        int fx;
        if (w[2].size() != 3 || !Number(w[2], fx, 16))
            return why = "no effect \"" + w[2] + "\" (three hex digits)", false;
        cell.effect = uint8_t(fx >> 8);
        cell.param = uint8_t(fx & 0xFF);
    }
    if (w.size() > 3)
        return why = "too much in a cell: \"" + text + "\"", false;
    return true;
}

bool ParseSample(const std::vector<std::string>& w, std::map<int, Sample>& samples, std::string& why)
{
    int n;
    if (w.size() < 3 || !Number(w[1], n) || n < 1 || n > ZMOD_SAMPLES)
        return why = "sample: a number 1 ... 31 and a wave", false;
    Sample s;
    s.wave = w[2];
    if (s.wave != "sine" && s.wave != "square" && s.wave != "saw" && s.wave != "triangle" && s.wave != "noise" &&
        s.wave != "silence")
        return why = "no wave \"" + s.wave + "\"", false;
    for (size_t i = 3; i < w.size(); i++) {
        size_t eq = w[i].find('=');
        std::string key = w[i].substr(0, eq), value = eq == std::string::npos ? "" : w[i].substr(eq + 1);
        bool ok = true;
        if (key == "cycle") ok = Number(value, s.cycle) && s.cycle >= 2 && s.cycle <= 65536;
        else if (key == "length") ok = Number(value, s.length) && s.length >= 0 && s.length <= 131070 && s.length % 2 == 0;
        else if (key == "volume") ok = Number(value, s.volume) && s.volume >= 0 && s.volume <= 64;
        else if (key == "finetune") ok = Number(value, s.finetune) && s.finetune >= -8 && s.finetune <= 7;
        else if (key == "amp") ok = Number(value, s.amp) && s.amp >= 1 && s.amp <= 127;
        else if (key == "loop" && value == "none") s.loop = false;
        else if (key == "loop") {
            size_t colon = value.find(':');
            ok = colon != std::string::npos && Number(value.substr(0, colon), s.loopStart) &&
                 Number(value.substr(colon + 1), s.loopLength) && s.loopStart >= 0 && s.loopLength >= 2 &&
                 s.loopStart % 2 == 0 && s.loopLength % 2 == 0;
        } else
            return why = "unknown sample setting \"" + w[i] + "\"", false;
        if (!ok)
            return why = "bad sample setting \"" + w[i] + "\"", false;
    }
    if (s.length < 0)
        s.length = s.cycle + s.cycle % 2;
    if (s.loopLength < 0)
        s.loopLength = s.length;
    if (s.loop && (s.loopLength < 2 || s.loopStart + s.loopLength > s.length))
        return why = "the loop lies outside the sample", false;
    s.used = true;
    samples[n] = s;
    return true;
}

void Put16(std::vector<uint8_t>& m, size_t at, int v)
{
    m[at] = uint8_t(v >> 8);
    m[at + 1] = uint8_t(v);
}

}  // namespace

uint16_t NotePeriod(const std::string& note)
{
    static const char* names[12] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};
    if (note.size() != 3 || note[2] < '0' || note[2] > '4')
        return 0;
    for (int s = 0; s < 12; s++)
        if (note.compare(0, 2, names[s]) == 0)
            return CZMod::PeriodTable[0][27 + (note[2] - '1') * 12 + s];
    return 0;
}

bool Build(const std::string& text, std::vector<uint8_t>& module, std::string& error)
{
    std::map<int, Sample> samples;
    std::map<int, Pattern> patterns;
    std::vector<int> order;
    std::string title;
    int current = -1;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        std::string why;
        // '#' after a space or at the start begins a comment; in "C#2" it is a sharp.
        for (size_t hash = line.find('#'); hash != std::string::npos; hash = line.find('#', hash + 1))
            if (hash == 0 || line[hash - 1] == ' ' || line[hash - 1] == '\t') {
                line.erase(hash);
                break;
            }
        std::vector<std::string> w = Words(line);
        if (w.empty())
            continue;
        bool ok = true;
        int v;
        if (w[0] == "title") {
            title = line.substr(line.find("title") + 5);
            title.erase(0, title.find_first_not_of(' '));
        } else if (w[0] == "sample") {
            ok = ParseSample(w, samples, why);
        } else if (w[0] == "order") {
            for (size_t i = 1; ok && i < w.size(); i++) {
                ok = Number(w[i], v) && v >= 0 && v <= 127 && order.size() < ZMOD_ORDERS;
                if (ok)
                    order.push_back(v);
                else
                    why = "order: pattern numbers 0 ... 127, at most 128 of them";
            }
        } else if (w[0] == "pattern") {
            ok = w.size() == 2 && Number(w[1], current) && current >= 0 && current <= 127;
            if (ok)
                patterns[current].resize(ZMOD_ROWS * ZMOD_CHANNELS);
            else
                why = "pattern: one number 0 ... 127";
        } else if (Number(w[0], v)) {
            if (current < 0)
                ok = false, why = "a row before any \"pattern\"";
            else if (v < 0 || v >= ZMOD_ROWS)
                ok = false, why = "rows are 0 ... 63";
            std::string rest = line.substr(line.find(w[0]) + w[0].size());
            for (int c = 0; ok && c < ZMOD_CHANNELS + 1; c++) {
                size_t bar = rest.find('|');
                std::string part = rest.substr(0, bar);
                if (c == ZMOD_CHANNELS) {
                    ok = Words(part).empty();
                    if (!ok)
                        why = "more than four cells";
                } else {
                    ok = ParseCell(part, patterns[current][v * ZMOD_CHANNELS + c], why);
                }
                if (bar == std::string::npos)
                    break;
                rest.erase(0, bar + 1);
            }
        } else {
            ok = false;
            why = "unknown statement \"" + w[0] + "\"";
        }
        if (!ok) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    if (order.empty())
        return error = "no \"order\": the song is empty", false;
    int count = 0;
    for (int p : order)
        count = std::max(count, p + 1);
    for (auto& p : patterns)
        if (p.first >= count)
            return error = "pattern " + std::to_string(p.first) + " is not reached by the order list", false;

    module.assign(ZMOD_PATTERNS + size_t(count) * ZMOD_PATTERN_BYTES, 0);
    std::memcpy(module.data(), title.data(), std::min<size_t>(title.size(), 20));
    std::vector<uint8_t> data;
    for (int n = 1; n <= ZMOD_SAMPLES; n++) {
        size_t h = ZMOD_SAMPLE_HEADERS + size_t(n - 1) * ZMOD_SAMPLE_HEADER_BYTES;
        auto it = samples.find(n);
        if (it == samples.end()) {
            Put16(module, h + 28, 1);   // one word: no loop
            continue;
        }
        const Sample& s = it->second;
        std::string name = "sample " + std::to_string(n);
        std::memcpy(&module[h], name.data(), name.size());
        Put16(module, h + 22, s.length / 2);
        module[h + 24] = uint8_t(s.finetune & 0x0F);
        module[h + 25] = uint8_t(s.volume);
        Put16(module, h + 26, s.loop ? s.loopStart / 2 : 0);
        Put16(module, h + 28, s.loop ? s.loopLength / 2 : 1);
        uint32_t noise = 12345u + unsigned(n);
        for (int i = 0; i < s.length; i++)
            data.push_back(uint8_t(WaveSample(s, i, noise)));
    }
    module[ZMOD_SONG_LENGTH] = uint8_t(order.size());
    module[ZMOD_SONG_LENGTH + 1] = 127;
    for (size_t i = 0; i < order.size(); i++)
        module[ZMOD_ORDER_TABLE + i] = uint8_t(order[i]);
    std::memcpy(&module[ZMOD_ORDER_TABLE + ZMOD_ORDERS], "M.K.", 4);
    for (auto& p : patterns)
        for (int i = 0; i < ZMOD_ROWS * ZMOD_CHANNELS; i++) {
            const Cell& c = p.second[i];
            uint8_t* b = &module[ZMOD_PATTERNS + size_t(p.first) * ZMOD_PATTERN_BYTES + size_t(i) * ZMOD_CELL_BYTES];
            b[0] = uint8_t((c.sample & 0xF0) | (c.period >> 8));
            b[1] = uint8_t(c.period);
            b[2] = uint8_t((c.sample & 0x0F) << 4 | c.effect);
            b[3] = c.param;
        }
    module.insert(module.end(), data.begin(), data.end());
    return true;
}

}  // namespace modwrite
