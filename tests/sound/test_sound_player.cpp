// The module player driven block by block against the mixer's channel
// records, and the mixer's resampling loop, natively.
#include <algorithm>
#include <set>

#include "sound_rig.h"

namespace {

const char* kSquare = "sample 1 square cycle=32 volume=64\n";

std::set<uint32_t> TableSteps(int finetune = 0)
{
    std::set<uint32_t> s;
    for (int i = 0; i < ZMOD_PERIODS; i++)
        s.insert(((7159090u / (2 * CZMod::PeriodTable[finetune][i])) * 512u / 44100u) * 2u);
    return s;
}

}  // namespace

TEST(Mixer, ResamplingEdges)
{
    CZSnd& snd = Rig::Mixer();
    static const int8_t data[6] = {10, 20, 30, 40, 50, 60};
    int16_t out[8];

    snd.Mixer_SetChannelSample(5, nullptr, 6, 0, 0);
    snd.Mixer_MixChannel(5, out, 8);
    EXPECT_EQ(std::count(out, out + 8, 0), 8) << "no sample data: silence";

    // Non-looping: the last sample would be passed by the next step, so it is
    // never played, and the position stays put until a new note.
    snd.Mixer_SetChannelSample(5, data, 4, 0, 0);
    snd.Mixer_SetChannelNote(5, 0, 1024);
    snd.Mixer_SetChannelVolume(5, 2, 2);
    snd.Mixer_MixChannel(5, out, 6);
    EXPECT_EQ(std::vector<int16_t>(out, out + 6), (std::vector<int16_t>{20, 40, 60, 0, 0, 0}));
    EXPECT_EQ(snd.Channel[5].Position, 3u * 1024);

    // Loop 2 + 3: back to the loop start when the next position reaches 5.
    snd.Mixer_SetChannelSample(5, data, 6, 2, 3);
    snd.Mixer_SetChannelNote(5, 0, 1024);
    snd.Mixer_MixChannel(5, out, 8);
    EXPECT_EQ(std::vector<int16_t>(out, out + 8), (std::vector<int16_t>{20, 40, 60, 80, 60, 80, 60, 80}));

    snd.Mixer_SetChannelVolume(5, 200, 100);
    EXPECT_EQ(snd.Channel[5].Volume, 127);
    snd.Mixer_SetChannelVolume(5, 100, 100);
    EXPECT_EQ(snd.Channel[5].Volume, 100);
    snd.Mixer_SetChannelVolume(5, 255, 255);
    EXPECT_EQ(snd.Channel[5].Volume, 127);

    uint32_t bad = snd.BadChannels;
    snd.Mixer_SetChannelNote(ZSND_MAX_CHANNELS, 0, 1024);
    snd.Mixer_MixChannel(ZSND_MAX_CHANNELS, out, 8);
    EXPECT_EQ(snd.BadChannels, bad + 2);
    EXPECT_EQ(std::count(out, out + 8, 0), 8);
}

TEST(Player, RowLengthStepAndVolume)
{
    std::string text = std::string(kSquare) + "order 0\npattern 0\n";
    for (int r = 0; r <= 10; r++)
        text += std::to_string(r) + " C-1 1\n";
    Rig rig(text);
    auto run = rig.Run(100);
    auto starts = Rig::Starts(run, 0);
    ASSERT_GE(starts.size(), 11u);
    EXPECT_EQ(starts[0], 0) << "the first row is read in the first block";
    EXPECT_EQ(run[0].Ch[0].Step, 96u) << "856 at finetune 0";
    EXPECT_EQ(run[0].Ch[0].Volume, 127) << "sample volume 64, centre panning";
    // 6 ticks of 54613/65536 per block: 7.2 blocks (0.12 s) a row.
    for (size_t i = 2; i < starts.size(); i++)
        EXPECT_TRUE(starts[i] - starts[i - 1] == 7 || starts[i] - starts[i - 1] == 8) << i;
    EXPECT_NEAR(starts[10] - starts[1], 9 * 7.2, 1);
}

TEST(Player, SpeedTempoBreakJumpAndEnd)
{
    Rig speed(std::string(kSquare) + "order 0\npattern 0\n0 C-1 1 F1F | --- .. F20\n");
    speed.Block();
    EXPECT_EQ(speed.Mod.Speed, 31);
    EXPECT_EQ(speed.Mod.Bpm, 32);
    EXPECT_EQ(speed.Mod.TickIncrement, 13107u);

    // D with 0x64 goes to row 0 of the next order; B past the song ends it.
    Rig rig(std::string(kSquare) +
            "order 0 1 0\n"
            "pattern 0\n0 C-1 1 D64\n"
            "pattern 1\n0 --- .. ... | C-2 1\n1 --- .. B03\n");
    auto run = rig.Run(40);
    EXPECT_EQ(run[0].Order, 1);
    EXPECT_EQ(run[0].Row, 0);
    auto starts = Rig::Starts(run, 1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(run[size_t(starts[0])].Ch[1].Step, RigStep(428));
    int end = -1;
    for (size_t i = 0; i < run.size() && end < 0; i++)
        if (run[i].State == ZMOD_STOPPED)
            end = int(i);
    ASSERT_GT(end, starts[0]);
    auto last = rig.Block();
    for (int c = 0; c < ZMOD_CHANNELS; c++)
        EXPECT_EQ(last.Ch[c].Volume, 0) << "stopped: every channel silent";
}

TEST(Player, SampleOffsetRetriggerCutAndDelay)
{
    Rig rig("sample 1 saw cycle=64 length=8192\norder 0\npattern 0\n"
            "0 C-1 1 910 | C-1 1 E93 | C-1 1 EC3 | C-1 1 E90\n"
            "1 C-1 1 900 | --- .. ... | --- .. ... | C-1 1 ED3\n");
    auto run = rig.Run(16);
    auto s0 = Rig::Starts(run, 0);
    ASSERT_EQ(s0.size(), 2u);
    EXPECT_EQ(run[size_t(s0[0])].Ch[0].Position, 0x10u * 256 * 1024);
    EXPECT_EQ(run[size_t(s0[1])].Ch[0].Position, 0x10u * 256 * 1024) << "9 with 0 reuses the last offset";
    EXPECT_EQ(Rig::Starts(run, 1).size(), 3u) << "E93: the row, then ticks 3 and 6";
    int row1 = s0[1];
    auto s3 = Rig::Starts(run, 3);
    ASSERT_EQ(s3.size(), 2u) << "E90 retriggers nothing; ED3 starts once";
    EXPECT_EQ(s3[0], 0);
    EXPECT_GE(s3[1], row1 + 2);
    EXPECT_LE(s3[1], row1 + 3);
    // EC3 silences the mixer at tick 3, the channel's volume byte stays.
    EXPECT_EQ(run[2].Ch[2].Volume, 127);
    EXPECT_EQ(run[5].Ch[2].Volume, 0);
    EXPECT_EQ(rig.Mod.Channels[2].Volume, 64);
}

TEST(Player, SlidesMoveInTableSteps)
{
    Rig rig(std::string(kSquare) + "order 0\npattern 0\n"
            "0 C-2 1 203 | C-2 1 | C-3 1\n"
            "1 --- .. 203 | C-1 1 340 | --- .. 037\n"
            "2 --- .. 203 | --- .. 300 | --- .. 037\n"
            "3 --- .. 203 | --- .. 300\n");
    auto run = rig.Run(36);
    std::set<uint32_t> table = TableSteps();
    std::set<uint32_t> seen0, seen2;
    for (const RigBlock& b : run) {
        EXPECT_TRUE(table.count(b.Ch[0].Step)) << b.Ch[0].Step;
        EXPECT_TRUE(table.count(b.Ch[1].Step)) << b.Ch[1].Step;
        seen0.insert(b.Ch[0].Step);
        seen2.insert(b.Ch[2].Step);
    }
    // The stored period moves 3 per tick; the heard step only at table entries.
    EXPECT_GE(seen0.size(), 2u);
    EXPECT_LT(rig.Mod.Channels[0].Period, 500);
    EXPECT_GT(rig.Mod.Channels[0].Period, 440);
    // 340 from 428 to 856: arrives, stops on the target, the note never restarts.
    EXPECT_EQ(run.back().Ch[1].Step, RigStep(856));
    EXPECT_EQ(rig.Mod.Channels[1].Period, 856);
    EXPECT_EQ(Rig::Starts(run, 1).size(), 1u);
    // Arpeggio 037 on C-3: the note, 3 and 7 semitones up.
    EXPECT_EQ(seen2, (std::set<uint32_t>{RigStep(214), RigStep(180), RigStep(143)}));
}

TEST(Player, VolumeEffectsAndPanning)
{
    Rig rig(std::string(kSquare) + "order 0\npattern 0\n"
            "0 C-1 1 C20 | C-1 1 A02 | C-1 1 800 | C-1 1 748\n"
            "1 --- .. EA4 | --- .. A20 | C-1 1 8FF | --- .. ...\n");
    auto run = rig.Run(16);
    EXPECT_EQ(run[0].Ch[0].Volume, 64) << "C20: 2 x 32";
    // Panning counts from the channel's next volume: 800 for row 1's note.
    EXPECT_EQ(run[0].Ch[2].Volume, 127);
    EXPECT_EQ(run[10].Ch[2].Volume, 64) << "hard left: (128 + 0) / 2";
    EXPECT_EQ(rig.Mod.Channels[0].Volume, 36) << "EA4 after C20";
    EXPECT_EQ(run.back().Ch[0].Volume, 72);
    // A02 took 2 a tick for the five ticks of row 0, A20 then added 2 a tick.
    EXPECT_LT(run[7].Ch[1].Volume, 127);
    EXPECT_GT(run.back().Ch[1].Volume, run[7].Ch[1].Volume);
    std::set<uint8_t> trem;
    for (const RigBlock& b : run)
        trem.insert(b.Ch[3].Volume);
    EXPECT_GE(trem.size(), 3u) << "tremolo moves the volume";
}

TEST(Player, VibratoFinetuneAndFineSlides)
{
    Rig rig("sample 1 square cycle=32\nsample 2 square cycle=32 finetune=-8\norder 0\npattern 0\n"
            "0 C-3 1 4FF | C-1 2 | C-1 1 | C-1 1 E58\n"
            "1 --- .. ... | --- .. ... | --- .. E14 | C-1 1\n"
            "2 --- .. ... | --- .. ... | --- .. E28 | ---\n");
    auto run = rig.Run(24);
    std::set<uint32_t> vib;
    for (const RigBlock& b : run)
        vib.insert(b.Ch[0].Step);
    // Depth 15 on 214: up to 29 periods either way, two table notes.
    EXPECT_TRUE(vib.count(RigStep(202)) || vib.count(RigStep(190))) << "above the note";
    EXPECT_TRUE(vib.count(RigStep(226)) || vib.count(RigStep(240))) << "below the note";
    EXPECT_EQ(run[0].Ch[1].Step, RigStep(907)) << "finetune -8 at 856";
    EXPECT_EQ(rig.Mod.Channels[2].Period, 856 + 4 - 8);
    // E58 retunes sample 1 for its next note.
    EXPECT_EQ(run[0].Ch[3].Step, 96u);
    EXPECT_EQ(run.back().Ch[3].Step, RigStep(907));
}

TEST(Player, PatternLoopAndDelay)
{
    Rig loop(std::string(kSquare) + "order 0\npattern 0\n0 C-1 1 E60\n1 C-1 1 E62\n2 --- .. B01\n");
    loop.Run(200);
    EXPECT_EQ(loop.Mod.State, ZMOD_STOPPED);
    EXPECT_EQ(loop.Mod.RowsRead, 7u) << "rows 0-1 three times, then row 2";

    Rig delay(std::string(kSquare) + "order 0\npattern 0\n0 C-1 1 EE2\n1 C-1 1 B01\n");
    auto run = delay.Run(60);
    auto s = Rig::Starts(run, 0);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(s[1] - s[0], 3 * 7.2 + 1, 1.5) << "row 0 held for two more rows";
}

TEST(Player, RefusesWhatIsNoModule)
{
    CZMod mod;
    mod.Init(&Rig::Mixer());
    std::vector<uint8_t> shortBytes(ZMOD_PATTERNS - 1, 0);
    EXPECT_EQ(mod.LoadMemoryMod(shortBytes.data(), uint32_t(shortBytes.size())), 1);
    EXPECT_EQ(mod.PlayMusic(), 1);
    EXPECT_EQ(mod.State, ZMOD_STOPPED);
}

TEST(Player, CutModulePlaysWhatIsInside)
{
    Rig rig(std::string(kSquare) + "sample 2 saw cycle=64 length=4000 loop=1000:3000\norder 0 1 2\n"
            "pattern 0\n0 C-1 1 | C-1 2\npattern 2\n0 C-1 1\n", false);
    // Keep pattern 0 and part of pattern 1 only.
    uint32_t size = ZMOD_PATTERNS + ZMOD_PATTERN_BYTES + 500;
    std::vector<uint8_t> cut(rig.Bytes.begin(), rig.Bytes.begin() + size);
    ASSERT_EQ(rig.Mod.LoadMemoryMod(cut.data(), size), 0);
    EXPECT_EQ(rig.Mod.PatternCount, 3u);
    EXPECT_EQ(rig.Mod.PatternsPresent, 1u);
    EXPECT_EQ(rig.Mod.Samples[1].Data, nullptr);
    EXPECT_EQ(rig.Mod.SamplesCut, 2u);
    rig.Mod.PlayMusic();
    auto out = rig.Render(60 * 60);
    EXPECT_EQ(rig.Mod.State, ZMOD_STOPPED) << "the missing patterns play as empty rows";
    EXPECT_NEAR(double(out.size()) / 44100, 3 * 64 * 0.12, 0.3);

    // Patterns the order table names beyond the song are stored too; the
    // samples follow them.
    Rig stored(std::string(kSquare) + "order 0 1\npattern 0\n0 C-1 1\npattern 1\n0 C-2 1\n", false);
    stored.Bytes[ZMOD_SONG_LENGTH] = 1;
    ASSERT_EQ(stored.Mod.LoadMemoryMod(stored.Bytes.data(), uint32_t(stored.Bytes.size())), 0);
    EXPECT_EQ(stored.Mod.PatternCount, 2u);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(stored.Mod.Samples[1].Data),
              stored.Bytes.data() + ZMOD_PATTERNS + 2 * ZMOD_PATTERN_BYTES);

    // A loop reaching past the sample is kept inside it.
    Rig loop(std::string(kSquare) + "order 0\npattern 0\n0 C-1 1\n", false);
    uint8_t* h = loop.Bytes.data() + ZMOD_SAMPLE_HEADERS;
    h[26] = 0; h[27] = 8;        // loop start 16 bytes
    h[28] = 0x7F; h[29] = 0xFF;  // loop length far past the 32 bytes
    ASSERT_EQ(loop.Mod.LoadMemoryMod(loop.Bytes.data(), uint32_t(loop.Bytes.size())), 0);
    EXPECT_EQ(loop.Mod.Samples[1].LoopStart, 16u);
    EXPECT_EQ(loop.Mod.Samples[1].LoopLength, 16u);
}

TEST(Player, CombinedSlidesWaveformsAndGlissando)
{
    Rig rig("sample 1 square cycle=32\nsample 2 square cycle=32 volume=32\norder 0\npattern 0\n"
            "0 C-2 1 105 | C-2 1 ... | C-3 1 4F8 | C-2 1 E42\n"
            "1 --- .. ... | C-1 .. 310 | --- .. 603 | C-3 1 4F8\n"
            "2 --- .. ... | --- .. 502 | --- .. ... | --- .. EB4\n"
            "3 --- .. ... | --- .. ... | --- .. ... | E-3 2 E72\n"
            "4 --- .. ... | C-2 1 E31 | --- .. ... | --- .. 7F4\n"
            "5 --- .. ... | C-1 .. 310\n");
    // Runs up to and including the block that reads `row`.
    std::vector<uint32_t> rowOf;
    std::vector<RigBlock> run;
    auto to = [&](uint32_t row) {
        while (rig.Mod.RowsRead < row + 1 && rig.Mod.State != ZMOD_STOPPED) {
            run.push_back(rig.Block());
            rowOf.push_back(rig.Mod.RowsRead - 1);
        }
    };
    to(1);
    EXPECT_EQ(rig.Mod.Channels[0].Period, 428 - 5 * 6) << "105: 5 a tick (the first row has six ticks after it)";
    to(2);
    EXPECT_EQ(rig.Mod.Channels[2].Volume, 64 - 3 * 5) << "603";
    EXPECT_EQ(rig.Mod.Channels[3].Volume, 64 - 4) << "EB4";
    to(3);
    EXPECT_EQ(rig.Mod.Channels[1].Volume, 64 - 2 * 5) << "502 slides the volume";
    EXPECT_GT(rig.Mod.Channels[1].Period, 428) << "and goes on to the note";
    to(6);
    // E31: the portamento moves a semitone a tick, on table periods only.
    const uint16_t* table = CZMod::PeriodTable[0];
    EXPECT_TRUE(std::find(table, table + ZMOD_PERIODS, rig.Mod.Channels[1].Period) != table + ZMOD_PERIODS)
        << rig.Mod.Channels[1].Period;
    EXPECT_GT(rig.Mod.Channels[1].Period, 428 + 4 * 16);
    // E42: square vibrato, two pitches only; E72: square tremolo, two volumes.
    std::set<uint32_t> vib;
    std::set<uint8_t> trem;
    for (size_t i = 1; i < run.size(); i++) {
        if ((rowOf[i] == 1 || rowOf[i] == 2) && rowOf[i] == rowOf[i - 1])
            vib.insert(run[i].Ch[3].Step);
        if (rowOf[i] == 4 && rowOf[i] == rowOf[i - 1])
            trem.insert(run[i].Ch[3].Volume);
    }
    EXPECT_EQ(vib.size(), 2u);
    EXPECT_EQ(trem.size(), 2u);
}
