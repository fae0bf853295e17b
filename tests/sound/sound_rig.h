// Native rig for the module player: builds a module with modwrite, runs the
// player block by block against the mixer's channel records and renders
// channels with the mixer's own resampling loop.
#ifndef SOUND_RIG_H
#define SOUND_RIG_H

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modwrite.h"
#include "zmod.h"
#include "zsnd.h"

// Position written into every record before a block: a record that no longer
// holds it had a note started in that block.
static const uint32_t RIG_UNTOUCHED = 0xFFFFFFFFu;

struct RigBlock {
    ZSND_CHANNEL Ch[ZMOD_CHANNELS];
    bool Started[ZMOD_CHANNELS];
    uint8_t State, Row, Order;
};

struct Rig {
    // One mixer for the whole program: its destructor belongs to the device
    // side, which the native build does not have.
    static CZSnd& Mixer()
    {
        static CZSnd* mixer = new CZSnd;
        return *mixer;
    }

    CZSnd& Snd = Mixer();
    CZMod Mod;
    std::vector<uint8_t> Bytes;

    explicit Rig(const std::string& text, bool play = true)
    {
        std::string error;
        EXPECT_TRUE(modwrite::Build(text, Bytes, error)) << error;
        Start(play);
    }
    explicit Rig(const std::vector<uint8_t>& bytes) : Bytes(bytes) { Start(true); }

    void Start(bool play)
    {
        std::memset(Snd.Channel, 0, sizeof(Snd.Channel));
        Mod.Init(&Snd);
        EXPECT_EQ(Mod.LoadMemoryMod(Bytes.data(), uint32_t(Bytes.size())), 0);
        if (play)
            Mod.PlayMusic();
    }

    RigBlock Block()
    {
        for (int c = 0; c < ZMOD_CHANNELS; c++)
            Snd.Channel[c].Position = RIG_UNTOUCHED;
        Mod.ControlChannels();
        RigBlock b;
        for (int c = 0; c < ZMOD_CHANNELS; c++) {
            b.Ch[c] = Snd.Channel[c];
            b.Started[c] = Snd.Channel[c].Position != RIG_UNTOUCHED;
            if (!b.Started[c])
                Snd.Channel[c].Position = 0;
        }
        b.State = Mod.State;
        b.Row = Mod.Row;
        b.Order = Mod.OrderIndex;
        return b;
    }

    std::vector<RigBlock> Run(int blocks)
    {
        std::vector<RigBlock> out;
        for (int i = 0; i < blocks; i++)
            out.push_back(Block());
        return out;
    }

    // Blocks in which channel c started a note.
    static std::vector<int> Starts(const std::vector<RigBlock>& run, int c)
    {
        std::vector<int> s;
        for (size_t i = 0; i < run.size(); i++)
            if (run[i].Started[c])
                s.push_back(int(i));
        return s;
    }

    // The whole song (at most maxBlocks), mixed to mono 16-bit at 44.1 kHz:
    // the sum of the channels, as DirectSound adds the channel buffers.
    std::vector<int16_t> Render(int maxBlocks)
    {
        std::vector<int16_t> out;
        int16_t block[ZSND_BLOCK_SAMPLES];
        for (int i = 0; i < maxBlocks && Mod.State != ZMOD_STOPPED; i++) {
            Mod.ControlChannels();
            std::vector<int32_t> sum(ZSND_BLOCK_SAMPLES, 0);
            for (int c = 0; c < ZMOD_CHANNELS; c++) {
                Snd.Mixer_MixChannel(c, block, ZSND_BLOCK_SAMPLES);
                for (int k = 0; k < ZSND_BLOCK_SAMPLES; k++)
                    sum[k] += block[k];
            }
            for (int32_t v : sum)
                out.push_back(int16_t(v > 32767 ? 32767 : v < -32768 ? -32768 : v));
        }
        return out;
    }
};

// The mixer step of a table period at finetune 0 (the player's arithmetic).
inline uint32_t RigStep(uint32_t period)
{
    return ((7159090u / (2 * period)) * 512u / 44100u) * 2u;
}

#endif
