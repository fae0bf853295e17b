// The tracker module player: parsing in place, rows, per-tick effects and
// the period arithmetic. Plain code: also built natively for tests and
// fuzzing.
#include "zmod.h"

#include <cstring>

#include "zsnd.h"
#include "zsnd_local.h"

const uint8_t CZMod::SineTable[32] = {
    0, 25, 50, 74, 98, 120, 142, 162, 180, 197, 212, 225, 236, 244, 250, 254,
    255, 254, 250, 244, 236, 225, 212, 197, 180, 162, 142, 120, 98, 74, 50, 25,
};

// Patterns that lie outside the bytes given play as this: empty rows.
static const uint8_t MOD_EmptyPattern[ZMOD_PATTERN_BYTES] = {};

static uint16_t MOD_Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// The player state is shared with the playback thread: LoadMemoryMod,
// PlayMusic and StopMusic hold the mixer's block lock.
struct MOD_BlockGuard {
    CZSnd* Mixer;
    explicit MOD_BlockGuard(CZSnd* mixer) : Mixer(mixer) { if (Mixer) Mixer->Mixer_Lock(); }
    ~MOD_BlockGuard() { if (Mixer) Mixer->Mixer_Unlock(); }
};

CZMod::CZMod()
{
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    MixRate = ZSND_RATE;
    BlocksPerSecond = ZSND_BLOCKS_PER_SECOND;
}

CZMod::~CZMod() {}

void CZMod::Init(CZSnd* mixer)
{
    Mixer = mixer;
    MixRate = ZSND_RATE;
    BlocksPerSecond = ZSND_BLOCKS_PER_SECOND;
}

int CZMod::LoadMemoryMod(const void* module, uint32_t size)
{
    MOD_BlockGuard guard(Mixer);
    State = ZMOD_STOPPED;
    Module = nullptr;
    if (!module || size < ZMOD_PATTERNS) {
        SND_Log(Mixer, "CZMod::LoadMemoryMod: %u bytes are no module (a module has at least %u); "
                "nothing loaded", unsigned(size), unsigned(ZMOD_PATTERNS));
        return 1;
    }
    const uint8_t* m = static_cast<const uint8_t*>(module);
    ModuleSize = size;
    Orders = m + ZMOD_ORDER_TABLE;
    PatternBase = m + ZMOD_PATTERNS;
    // The order table has 128 entries; a longer song would play bytes that
    // are no order entries.
    SongLength = m[ZMOD_SONG_LENGTH] > ZMOD_ORDERS ? ZMOD_ORDERS : m[ZMOD_SONG_LENGTH];
    // Patterns stored: the highest pattern the song plays, plus 1. Modules
    // from the classic editors store every pattern the whole 128-entry table
    // names, playing or not; when the bytes hold those and the samples, the
    // samples start after them.
    uint32_t highest = 0, highestAll = 0, sampleBytes = 0;
    for (uint32_t i = 0; i < ZMOD_ORDERS; i++) {
        if (i < SongLength && Orders[i] > highest)
            highest = Orders[i];
        if (Orders[i] > highestAll)
            highestAll = Orders[i];
    }
    for (int k = 0; k < ZMOD_SAMPLES; k++)
        sampleBytes += MOD_Be16(m + ZMOD_SAMPLE_HEADERS + k * ZMOD_SAMPLE_HEADER_BYTES + 22) * 2u;
    PatternCount = highest + 1;
    if (uint64_t(ZMOD_PATTERNS) + uint64_t(highestAll + 1) * ZMOD_PATTERN_BYTES + sampleBytes <= size)
        PatternCount = highestAll + 1;
    uint32_t room = (size - ZMOD_PATTERNS) / ZMOD_PATTERN_BYTES;
    PatternsPresent = PatternCount < room ? PatternCount : room;

    // Sample data follows the patterns the order table names, whether or not
    // the bytes hold them.
    uint64_t offset = ZMOD_PATTERNS + uint64_t(PatternCount) * ZMOD_PATTERN_BYTES;
    SampleStart = offset < size ? m + offset : nullptr;
    SamplesCut = 0;
    for (int k = 1; k <= ZMOD_SAMPLES; k++) {
        const uint8_t* h = m + ZMOD_SAMPLE_HEADERS + (k - 1) * ZMOD_SAMPLE_HEADER_BYTES;
        ZMOD_SAMPLE& s = Samples[k];
        uint32_t length = MOD_Be16(h + 22) * 2u;
        s.Finetune = h[24] & 0x0F;
        s.Volume = h[25] > 64 ? 64 : h[25];
        s.LoopStart = MOD_Be16(h + 26) * 2u;
        s.LoopLength = MOD_Be16(h + 28) * 2u;
        uint64_t inside = offset < size ? size - offset : 0;
        s.Data = length && inside ? reinterpret_cast<const int8_t*>(m + offset) : nullptr;
        s.Length = length < inside ? length : uint32_t(inside);
        if (s.Length < length)
            SamplesCut++;
        if (!s.Data)
            s.Length = 0;
        // A loop of one word is the format's "no loop"; a loop is kept
        // inside the sample's bytes.
        if (s.LoopLength <= 2 || s.LoopStart >= s.Length)
            s.LoopStart = s.LoopLength = 0;
        else if (s.LoopLength > s.Length - s.LoopStart)
            s.LoopLength = s.Length - s.LoopStart;
        offset += length;
    }
    std::memset(Channels, 0, sizeof(Channels));
    Module = m;
    RowPointer = MOD_EmptyPattern;
    OrderEntry = Orders;
    return 0;
}

int CZMod::PlayMusic()
{
    MOD_BlockGuard guard(Mixer);
    if (!Module) {
        SND_Log(Mixer, "CZMod::PlayMusic: no module loaded; call LoadMemoryMod first");
        return 1;
    }
    MOD_StartSong();
    return 0;
}

void CZMod::MOD_StartSong()
{
    Speed = 6;
    TickCounter = 0;
    Internal_SetBPM(125);
    Row = 0;
    OrderIndex = 0;
    OrderEntry = Orders;
    RowPointer = MOD_PatternAt(Orders[0]);
    State = ZMOD_STARTING;
    PatternDelay = 0;
    Glissando = 0;
    VibratoWaveform = 0;
    // A restart plays like the first start.
    TremoloWaveform = 0;
    LoopStartRow = 0;
    LoopCounter = 0;
    for (ZMOD_CHANNEL& ch : Channels) {
        ch.Effect = ZMOD_FX_NONE;
        ch.Panning = 128;
    }
}

void CZMod::StopMusic()
{
    MOD_BlockGuard guard(Mixer);
    State = ZMOD_STOPPED;
}

const uint8_t* CZMod::MOD_PatternAt(uint8_t pattern)
{
    if (pattern < PatternsPresent)
        return PatternBase + uint32_t(pattern) * ZMOD_PATTERN_BYTES;
    return MOD_EmptyPattern;
}

void CZMod::Internal_SetBPM(uint8_t bpm)
{
    Bpm = bpm;
    TickIncrement = ((2u * bpm / 5u) * 65536u) / 60u;
    TickAccumulator = 0;
}

// Effects that stop at the next row. The note delay is among them: a delayed
// note sounds once, in its own row.
static bool MOD_EndsAtRow(uint8_t effect)
{
    return effect <= 7 || effect == 10 || effect == ZMOD_FX_RETRIGGER || effect == ZMOD_FX_NOTE_CUT ||
           effect == ZMOD_FX_NOTE_DELAY;
}

void CZMod::ControlChannels()
{
    if (State == ZMOD_STOPPED || State == ZMOD_SILENT) {
        for (int c = 0; c < ZMOD_CHANNELS; c++)
            Mixer->Mixer_SetChannelVolume(c, 0, 0);
        return;
    }
    bool readRow = false;
    if (State == ZMOD_STARTING) {
        State = ZMOD_PLAYING;
        readRow = true;
    }
    TickAccumulator += TickIncrement;
    if (TickAccumulator > 0xFFFF) {
        TickAccumulator &= 0xFFFF;
        if (TickCounter == Speed) {
            TickCounter = 1;
            for (ZMOD_CHANNEL& ch : Channels)
                if (MOD_EndsAtRow(ch.Effect))
                    ch.EffectOff = 1;
            readRow = true;
        } else {
            TickCounter++;
            for (int c = 0; c < ZMOD_CHANNELS; c++)
                if (!Channels[c].EffectOff)
                    MOD_TickEffects(c);
        }
    }
    if (readRow && State != ZMOD_STOPPED && PatternDelay == 0)
        MOD_ReadRow();
    if (readRow && PatternDelay != 0)
        PatternDelay--;
}

void CZMod::MOD_TickEffects(int c)
{
    ZMOD_CHANNEL& ch = Channels[c];
    uint8_t y = ch.Param & 0x0F;
    switch (ch.Effect) {
    case 0: Internal_DoArpegio(c); break;
    case 1: ch.Period = uint16_t(ch.Period - ch.Param); Internal_SetNote(c, -1, 0, 0); break;
    case 2: ch.Period = uint16_t(ch.Period + ch.Param); Internal_SetNote(c, -1, 0, 0); break;
    case 3: Internal_PortaToNote(c); break;
    case 4: Internal_Vibrato(c); break;
    case 5: Internal_VolumeSlide(c); Internal_PortaToNote(c); break;
    case 6: Internal_Vibrato(c); Internal_VolumeSlide(c); break;
    case 7: Internal_Tremolo(c); break;
    case 10: Internal_VolumeSlide(c); break;
    case ZMOD_FX_RETRIGGER:
        if (y && TickCounter % y == 0)
            Internal_SetNote(c, 0, 0, 0);
        break;
    case ZMOD_FX_NOTE_CUT:
        if (TickCounter >= y)
            Mixer->Mixer_SetChannelVolume(c, 0, 0);
        break;
    case ZMOD_FX_NOTE_DELAY:
        if (TickCounter == y) {
            Internal_SetSample(c, ch.Sample);
            Internal_SetNote(c, 0, 0, 0);
        }
        break;
    default: break;
    }
}

void CZMod::MOD_ReadRow()
{
    RowsRead++;
    bool jumped = false;        // a position jump (B) came in this row
    bool moved = false;         // a jump or a break came in this row
    bool loopBack = false;
    uint8_t nextOrder = OrderIndex, nextRow = 0;
    const uint8_t* cell = RowPointer;
    for (int c = 0; c < ZMOD_CHANNELS; c++, cell += ZMOD_CELL_BYTES) {
        ZMOD_CHANNEL& ch = Channels[c];
        // Sample numbers above 31 name no sample: the cell has none.
        uint8_t sample = (cell[0] & 0xF0) | (cell[2] >> 4);
        if (sample > ZMOD_SAMPLES)
            sample = 0;
        uint16_t period = uint16_t((cell[0] & 0x0F) << 8 | cell[1]);
        uint8_t fx = cell[2] & 0x0F, p = cell[3], x = p >> 4, y = p & 0x0F;
        int32_t startAt = 0;
        if (sample) {
            ch.Sample = sample;
            Internal_SetSample(c, sample);
        }
        if (fx || p) {
            switch (fx) {
            case 0:
                ch.Effect = 0; ch.Param = p; ch.EffectOff = 0;
                ch.ArpeggioBase = period ? period : ch.Period;
                if (!ch.ArpeggioBase)
                    ch.EffectOff = 1;
                break;
            case 1: case 2:
                ch.Effect = fx; ch.Param = p; ch.EffectOff = 0;
                break;
            case 3:
                if (period)
                    ch.PortaTarget = period;
                if (p)
                    ch.PortaSpeed = p;
                ch.Effect = 3; ch.EffectOff = 0;
                period = 0;     // slides to the note instead of starting it
                break;
            case 4:
                if (p) { ch.VibratoSpeed = x; ch.VibratoDepth = y; }
                if (VibratoWaveform < 4)
                    ch.VibratoPos = 31;
                ch.Effect = 4; ch.EffectOff = 0;
                ch.VibratoBase = period ? period : ch.Period;
                if (!ch.VibratoBase)
                    ch.EffectOff = 1;
                break;
            case 5: case 6: case 10:
                if (x == 0 || y == 0) {
                    ch.Effect = fx; ch.Param = p; ch.EffectOff = 0;
                    if (fx == 6 && VibratoWaveform < 4)
                        ch.VibratoPos = 31;
                }
                break;
            case 7:
                if (p) { ch.TremoloSpeed = x; ch.TremoloDepth = y; }
                ch.Effect = 7; ch.EffectOff = 0;
                if (TremoloWaveform < 4)
                    ch.TremoloPos = 31;
                ch.TremoloBase = ch.Volume;
                break;
            case 8:
                ch.Panning = p;
                break;
            case 9:
                if (p)
                    ch.LastOffset = p;
                startAt = int32_t(ch.LastOffset) * 256;
                break;
            case 11:
                if (!jumped) {
                    jumped = moved = true;
                    nextOrder = p;
                    nextRow = 0;
                }
                break;
            case 12:
                // The volume byte holds 0 ... 64.
                ch.Volume = p > 64 ? 64 : p;
                Internal_SetVolume(c, ch.Volume);
                break;
            case 13:
                if (!moved)
                    nextOrder = uint8_t(OrderIndex + 1);
                moved = true;
                nextRow = uint8_t(10 * x + y >= ZMOD_ROWS ? 0 : 10 * x + y);
                break;
            case 14:
                if (p < 16 || p > 239)
                    break;
                switch (x) {
                case 1: ch.Period = uint16_t(ch.Period + y); Internal_SetNote(c, -1, 0, 0); break;
                case 2: ch.Period = uint16_t(ch.Period - y); Internal_SetNote(c, -1, 0, 0); break;
                case 3: Glissando = y; break;
                case 4: VibratoWaveform = y; break;
                case 5:
                    if (sample)
                        Samples[sample].Finetune = y;
                    break;
                case 6:
                    if (y == 0) {
                        LoopStartRow = Row;
                    } else {
                        if (LoopCounter == 0)
                            LoopCounter = y;
                        if (LoopCounter != ZMOD_LOOP_DONE)
                            loopBack = true;
                        else
                            LoopCounter = 0;
                    }
                    break;
                case 7: TremoloWaveform = y; break;
                case 9: ch.Effect = ZMOD_FX_RETRIGGER; ch.Param = y; ch.EffectOff = 0; break;
                // Fine volume slides are heard at once.
                case 10: ch.Volume = uint8_t(ch.Volume + y > 64 ? 64 : ch.Volume + y); Internal_SetVolume(c, 0); break;
                case 11: ch.Volume = uint8_t(ch.Volume < y ? 0 : ch.Volume - y); Internal_SetVolume(c, 0); break;
                case 12: ch.Effect = ZMOD_FX_NOTE_CUT; ch.Param = y; ch.EffectOff = 0; break;
                case 13:
                    // A delay of 0 or 1 ticks is the row's own tick: the note
                    // starts now. Without a sample or note in the cell the
                    // channel keeps its own.
                    if (sample)
                        ch.Sample = sample;
                    if (period)
                        ch.Period = ch.PortaTarget = period;
                    if (y > 1) {
                        ch.Effect = ZMOD_FX_NOTE_DELAY; ch.Param = y; ch.EffectOff = 0;
                        period = 0;
                    }
                    break;
                case 14: PatternDelay = uint8_t(y + 1); break;
                default: break;
                }
                break;
            case 15:
                if (p == 0)
                    break;
                if (p < 32) {
                    Speed = p;
                    TickCounter = 1;
                } else {
                    Internal_SetBPM(p);
                }
                break;
            }
        }
        if (period) {
            ch.Period = period;
            Internal_SetNote(c, startAt, 0, 0);
        }
    }
    RowPointer = cell;

    if (moved) {
        Row = nextRow;
        OrderIndex = nextOrder;
        if (OrderIndex >= SongLength) {
            State = ZMOD_STOPPED;
            return;
        }
        OrderEntry = Orders + OrderIndex;
        RowPointer = MOD_PatternAt(*OrderEntry) + Row * ZMOD_CHANNELS * ZMOD_CELL_BYTES;
    } else {
        Row++;
    }
    if (loopBack && LoopCounter != ZMOD_LOOP_DONE) {
        Row = LoopStartRow;
        RowPointer = MOD_PatternAt(*OrderEntry) + Row * ZMOD_CHANNELS * ZMOD_CELL_BYTES;
        LoopCounter = LoopCounter == 1 ? ZMOD_LOOP_DONE : uint8_t(LoopCounter - 1);
    }
    if (Row >= ZMOD_ROWS) {
        OrderIndex++;
        if (OrderIndex >= SongLength) {
            State = ZMOD_STOPPED;
            return;
        }
        OrderEntry++;
        Row = 0;
        RowPointer = MOD_PatternAt(*OrderEntry);
    }
}

void CZMod::Internal_SetNote(int c, int32_t position, uint32_t stepAdd, int semitones)
{
    ZMOD_CHANNEL& ch = Channels[c];
    if (!ch.Period)
        return;
    uint32_t period = Internal_FindPeriodFinetune(ch.Period, ch.Finetune, semitones);
    uint32_t rate = (MOD_PAULA_CLOCK / (2 * period)) * 512;
    uint32_t step = (rate / MixRate) * 2 + stepAdd;
    if (position < 0)
        Mixer->Mixer_SetChannelStep(c, step);
    else
        Mixer->Mixer_SetChannelNote(c, uint32_t(position) << ZSND_FRAC_BITS, step);
}

uint16_t CZMod::Internal_FindPeriodFinetune(uint16_t period, uint8_t finetune, int semitones)
{
    const uint16_t* t = PeriodTable[0];
    int probe = 37, low = 0, high = ZMOD_PERIODS - 1;
    for (;;) {
        if (t[probe] == period)
            break;
        int previous = probe;
        if (t[probe] < period) {
            high = probe;
            probe = (low + high) / 2;
        } else {
            low = probe;
            probe = probe + (high - probe) / 2;
        }
        if (probe == previous)
            break;
    }
    // Arpeggios and glissandos near the ends stay on the table's notes.
    int index = probe + semitones;
    if (index < 0)
        index = 0;
    if (index > ZMOD_PERIODS - 1)
        index = ZMOD_PERIODS - 1;
    return PeriodTable[finetune & 0x0F][index];
}

void CZMod::Internal_SetSample(int c, uint8_t n)
{
    if (n == 0 || n > ZMOD_SAMPLES)
        return;
    ZMOD_CHANNEL& ch = Channels[c];
    const ZMOD_SAMPLE& s = Samples[n];
    ch.Volume = s.Volume;
    ch.Finetune = s.Finetune;
    Mixer->Mixer_SetChannelSample(c, s.Data, s.Length, s.LoopStart, s.LoopLength);
    Internal_SetVolume(c, 0);
}

void CZMod::Internal_SetVolume(int c, uint8_t volume)
{
    const ZMOD_CHANNEL& ch = Channels[c];
    int b = 2 * (volume ? volume : ch.Volume);
    int pan = ch.Panning;
    if (pan == 128) {
        Mixer->Mixer_SetChannelVolume(c, b, b);
    } else if (pan < 128) {
        int right = b + pan - 128;
        Mixer->Mixer_SetChannelVolume(c, b, right < 0 ? 0 : right);
    } else {
        int left = b + 128 - pan;
        Mixer->Mixer_SetChannelVolume(c, left < 0 ? 0 : left, b);
    }
}

void CZMod::Internal_VolumeSlide(int c)
{
    ZMOD_CHANNEL& ch = Channels[c];
    if (ch.Param < 16)
        ch.Volume = uint8_t(ch.Volume < ch.Param ? 0 : ch.Volume - ch.Param);
    else
        ch.Volume = uint8_t(ch.Volume + (ch.Param >> 4) > 64 ? 64 : ch.Volume + (ch.Param >> 4));
    Internal_SetVolume(c, 0);
}

void CZMod::Internal_PortaToNote(int c)
{
    ZMOD_CHANNEL& ch = Channels[c];
    int period = ch.Period, target = ch.PortaTarget;
    if (target < period) {
        period = Glissando ? Internal_FindPeriodFinetune(uint16_t(period), 0, 1) : period - ch.PortaSpeed;
        if (target >= period) {
            period = target;
            ch.EffectOff = 1;
        }
    } else {
        period = Glissando ? Internal_FindPeriodFinetune(uint16_t(period), 0, -1) : period + ch.PortaSpeed;
        if (target <= period) {
            period = target;
            ch.EffectOff = 1;
        }
    }
    if (period > 15000) {
        period = target;
        ch.EffectOff = 1;
    }
    ch.Period = uint16_t(period);
    Internal_SetNote(c, -1, 0, 0);
}

int CZMod::MOD_Wave(uint8_t waveform, uint8_t position)
{
    switch (waveform & 3) {
    case 1: return position >= 32 ? (8 * position) & 255 : (7 - 8 * position) & 255;
    case 2: return 255;
    default: return SineTable[position & 31];
    }
}

void CZMod::Internal_Vibrato(int c)
{
    ZMOD_CHANNEL& ch = Channels[c];
    int offset = ch.VibratoDepth * MOD_Wave(VibratoWaveform, ch.VibratoPos) / 128;
    int period = ch.VibratoPos <= 30 ? ch.VibratoBase + offset : ch.VibratoBase - offset;
    ch.VibratoPos = uint8_t(ch.VibratoPos + ch.VibratoSpeed);
    if (ch.VibratoPos > 62)
        ch.VibratoPos = 0;
    ch.Period = uint16_t(period < 0 ? 0 : period);
    Internal_SetNote(c, -1, 0, 0);
}

void CZMod::Internal_Tremolo(int c)
{
    ZMOD_CHANNEL& ch = Channels[c];
    int offset = MOD_Wave(TremoloWaveform, ch.TremoloPos) * ch.TremoloDepth / 64;
    int volume;
    if (ch.TremoloPos <= 30) {
        volume = ch.TremoloBase + offset;
        if (volume > 64)
            volume = 64 - offset;
    } else {
        volume = ch.TremoloBase - offset;
        if (volume < 0)
            volume = offset;
    }
    ch.TremoloPos = uint8_t(ch.TremoloPos + ch.TremoloSpeed);
    if (ch.TremoloPos > 62)
        ch.TremoloPos = 0;
    Internal_SetVolume(c, uint8_t(volume));
}

void CZMod::Internal_DoArpegio(int c)
{
    ZMOD_CHANNEL& ch = Channels[c];
    uint8_t x = ch.Param >> 4, y = ch.Param & 0x0F;
    ch.Period = ch.ArpeggioBase;
    switch (TickCounter & 3) {
    case 0: Internal_SetNote(c, -1, 0, 0); break;
    case 1: Internal_SetNote(c, -1, 0, x); break;
    case 2: Internal_SetNote(c, -1, 0, y); break;
    default: break;
    }
}
