// The record the test build of brolfest04 publishes in named shared memory:
// the game's flags after every tick, per-frame counters and a ring of tick
// intervals. Shared by the game and the programs that watch it (tests, the
// run driver, the benchmark); Windows-free fixed-width layout.
#ifndef BF04_PROBE_H
#define BF04_PROBE_H
#include <cstddef>
#include <cstdint>

#define BF04_PROBE_NAME "brolfest04.probe"   // the mapping's name
#define BF04_PROBE_MAGIC 0x34304642u         // "BF04": the game has opened the record
#define BF04_PROBE_INTERVALS 4096            // ring of tick intervals (microseconds)
#define BF04_PROBE_STARTS 16                 // countdown values of the start sample's plays
#define BF04_PROBE_EVENTS 512                // changes of the screen flags, the first ones kept

// The flags and counters of the screens, one 32-bit word each, in the order
// the game keeps them.
struct BF04_FLAGS {
    int32_t MenuShown;
    int32_t MenuFadeState;        // 0 fading in, 1 holding, 2 fading out
    int32_t MenuAlpha;
    int32_t MenuHold;
    int32_t ScreenIsCredits;      // the screen picture is the credits picture
    int32_t StartBanner;
    int32_t StartCountdown;
    int32_t WinCountdown;
    int32_t Won;
    int32_t Automatic;
    int32_t Quit;
    int32_t EscLatch;
    float AutoPathPosition;
    int32_t NoiseFrame;
    int32_t TextPage;
    int32_t PageCountdown;
    int32_t PageView;
    int32_t Shake;
};
static_assert(sizeof(BF04_FLAGS) == 72, "eighteen words");
#define BF04_FLAG_WORD(field) ((int32_t)(offsetof(BF04_FLAGS, field) / 4))

// One change of a screen flag, on the tick that made it. Logged for
// MenuShown, MenuFadeState, ScreenIsCredits, StartBanner, Won, Automatic,
// Quit, EscLatch and TextPage; PageView only when it reaches 0 or leaves it.
struct BF04_EVENT {
    uint32_t Tick;
    int32_t Word;                 // BF04_FLAG_WORD of the field
    int32_t Value;                // its new value
};
static_assert(sizeof(BF04_EVENT) == 12, "three words");

// The run, after every tick: the player, the counters, the soldiers.
#define BF04_PROBE_SOLDIERS 15
struct BF04_PLAY {
    float Position[3];
    float HeadingTarget, Heading;
    int32_t State;                // 1 idle, 2 walking, 3 shooting, 4 dying
    float FallSpeed;
    int32_t Seconds;
    uint32_t Milliseconds;
    int32_t Kills, Deaths;
    uint32_t ScoreThreads;        // score submissions started
    uint32_t SceneTests;          // TestAABBWithSphere calls so far
    int32_t Shots, Explosions;    // in flight
    int32_t Footsteps;            // the audio library's state of the footstep channel: 0 none or stopped, 1 playing, 3 paused
    float SoldierX[BF04_PROBE_SOLDIERS], SoldierZ[BF04_PROBE_SOLDIERS];
    int32_t SoldierState[BF04_PROBE_SOLDIERS];   // 1 walking, 2 idle, 3 shooting, 6 dead
};
static_assert(sizeof(BF04_PLAY) == 64 + 12 * BF04_PROBE_SOLDIERS, "play record size");

// What a watcher asks of the test build. A serial takes effect once, on the
// first tick after the watcher changes it.
struct BF04_ORDERS {
    int32_t Follow;               // soldier number + 1 the camera follows; 0: the game's own camera
    uint32_t FollowSerial;        // changed: that soldier walks on from path position FollowPath
    float FollowPath;
    float FollowBack;             // eye distance behind the soldier along its path; negative: ahead, looking back
    float FollowHeight;           // eye and target height above the soldier's position (its y, 2.1)
    uint32_t WinSerial;           // changed: a run in progress is won on this tick, as if its countdown ran out
    uint32_t Spare;               // keeps the record a whole number of 8-byte words
};
static_assert(sizeof(BF04_ORDERS) == 28, "seven words");

// The process's health, sampled by the frame loop about once a second.
// Sequence is odd while the game writes the record: a watcher copies it
// when the sequence is even and unchanged across the copy.
struct BF04_HEALTH {
    uint32_t Sequence;
    uint32_t Samples;
    uint32_t HeapInUse;           // engine heap bytes handed out (CZMem::BytesInUse)
    uint32_t HeapTop;             // engine heap bytes below top
    uint32_t WorkingSet;          // bytes
    uint32_t PrivateBytes;
    uint32_t Handles;
    uint32_t GdiObjects, UserObjects;
    uint32_t DeviceResets, FramesLost, ResetsFailed;   // the display's, written every frame
    int32_t Music;                // the audio library's state of the music channel: 0 none or stopped, 1 playing
};
static_assert(sizeof(BF04_HEALTH) == 52, "thirteen words");

// Where the time goes: microseconds summed since the start, per phase of
// the frame loop and for the tick. Wrapping 32-bit sums: a watcher takes
// differences over less than an hour.
#define BF04_CUT_SNAPSHOT 0           // the snapshot under the game lock
#define BF04_CUT_QUEUE 1              // queuing the four passes: objects, the octree, planes
#define BF04_CUT_SCENE 2              // RenderScene of the sky, world and effects passes
#define BF04_CUT_PRESENT 3            // the overlay's RenderScene, which presents
#define BF04_CUT_TICK 4               // the game tick (timer thread)
#define BF04_CUTS 5

struct BF04_PROBE {
    uint32_t Magic;               // BF04_PROBE_MAGIC once the game has the record
    uint32_t ProcessId;
    int64_t CounterFrequency;
    int64_t StartTime;            // performance counter at "Start"
    int64_t FirstMenuFrameTime;   // at the end of the first frame drawn with the timer running
    // Start-up, in the order it happens.
    int32_t DialogDone;           // 1 Start, 2 Exit or closed
    int32_t Windowed;             // what the game passed to SelectGraphMode
    char Handle[12];              // the handle the game keeps (at most 10 characters)
    int32_t EngineCreated;
    int32_t AssetsLoaded;
    int32_t TimerStarted;
    uint32_t Window;              // the game window's handle
    // The tick.
    uint32_t Ticks;               // ticks run
    uint32_t TicksLate;           // the engine timer's own late count
    BF04_FLAGS Flags;             // copied at the end of every tick
    uint32_t StartPlays;          // start-sample plays
    int32_t StartPlayCountdown[BF04_PROBE_STARTS];
    uint32_t IntervalCount;       // intervals written (the ring holds the last ones)
    uint32_t Interval[BF04_PROBE_INTERVALS];
    // The frame loop.
    uint32_t Frames;
    uint32_t FrameTick;           // tick count when the last frame's snapshot was taken
    float Eye[3], Target[3];      // the camera of the last frame
    int32_t ViewingTv;            // the last automatic frame used the fixed TV view
    uint32_t DrawCalls;           // the last frame's, all four passes
    uint32_t Batches;
    uint32_t OctreeFaces;         // faces the octree handed on in the last frame
    uint32_t LevelFaces;          // the level object's faces
    int32_t TearDown;             // 1 from the end picture on
    int32_t ExitCode;             // written right before the process returns
    int32_t DialogIcons;          // the dialog's icons as it answers WM_GETICON: 1 big, 2 small
    uint32_t EventCount;
    BF04_EVENT Event[BF04_PROBE_EVENTS];
    BF04_PLAY Play;
    BF04_ORDERS Orders;           // written by the watcher
    BF04_HEALTH Health;
    uint32_t CutMicroseconds[BF04_CUTS];
    uint32_t CutFrames;           // frames whose phases are summed
    uint32_t Primitives;          // the last frame's, all four passes
};
static_assert(offsetof(BF04_PROBE, Flags) == 76, "flags after the start-up words");
static_assert(offsetof(BF04_PROBE, Interval) == 220, "ring after the start plays");
static_assert(sizeof(BF04_PROBE) == 220 + 4 * BF04_PROBE_INTERVALS + 68 + 12 * BF04_PROBE_EVENTS + sizeof(BF04_PLAY) +
                                        sizeof(BF04_ORDERS) + sizeof(BF04_HEALTH) + 4 * BF04_CUTS + 8,
              "probe record size");

#endif
