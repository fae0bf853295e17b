#include "zkbd.h"
#include "zmse.h"
#include "zqtest.h"

TEST(Keyboard, PressReleaseAndPolling)
{
    CZKbd k;
    EXPECT_EQ(k.KeyChanged(), 0);
    EXPECT_EQ(k.KeyState(0x41), 0);

    k.PressKeyCode(0x41);
    EXPECT_EQ(k.KeyState(0x41), 1);
    EXPECT_EQ(k.KeyChanged(), 1);
    EXPECT_EQ(k.KeyChanged(), 0) << "the changed flag is cleared by reading it";
    EXPECT_EQ(k.GetLastScan(), 'A');

    // Pressed and released between two polls: up, but the change shows.
    k.PressKeyCode(0x26);
    k.ReleaseKeyCode(0x26);
    EXPECT_EQ(k.KeyState(0x26), 0);
    EXPECT_EQ(k.KeyChanged(), 1);
    EXPECT_EQ((unsigned char)k.GetLastScan(), 0x26);

    // A release is not a change and leaves the last key alone.
    k.ReleaseKeyCode(0x41);
    EXPECT_EQ(k.KeyChanged(), 0);
    EXPECT_EQ((unsigned char)k.GetLastScan(), 0x26);

    // Last key keeps only the low byte.
    k.PressKeyCode(0x3FF);
    EXPECT_EQ((unsigned char)k.GetLastScan(), 0xFF);
    EXPECT_EQ(k.KeyState(0x3FF), 1);
}

TEST(Keyboard, CodesOutsideTheTableAreIgnored)
{
    CZKbd k;
    k.PressKeyCode(ZKBD_KEYS);
    k.PressKeyCode(0xFFFF);
    EXPECT_EQ(k.KeyChanged(), 0);
    EXPECT_EQ(k.KeyState(ZKBD_KEYS), 0);
    EXPECT_EQ(k.KeyState(0xFFFF), 0);
    k.ReleaseKeyCode(0xFFFF);
    for (int i = 0; i < ZKBD_KEYS; i++)
        ASSERT_EQ(k.State[i], 0);
}

TEST(Mouse, ButtonsPositionAndChange)
{
    CZMse m;
    EXPECT_EQ(m.MouseChanged(), 0);
    m.SetMouse(0x1 | 0x10, (200u << 16) | 320u);
    EXPECT_EQ(m.GetLButton(), 1);
    EXPECT_EQ(m.GetRButton(), 0);
    EXPECT_EQ(m.GetMButton(), 1);
    EXPECT_EQ(m.GetXpos(), 320u);
    EXPECT_EQ(m.GetYpos(), 200u);
    EXPECT_EQ(m.MouseChanged(), 1);
    EXPECT_EQ(m.MouseChanged(), 0);

    // Shift, control and other wParam bits are not buttons.
    m.SetMouse(0x2 | 0x4 | 0x8, 0);
    EXPECT_EQ(m.GetLButton(), 0);
    EXPECT_EQ(m.GetRButton(), 1);
    EXPECT_EQ(m.GetMButton(), 0);

    // Left of and above a captured client area: -1 reads as 65535.
    const short x = -1, y = -2;
    m.SetMouse(0, ((unsigned long)(unsigned short)y << 16) | (unsigned short)x);
    EXPECT_EQ(m.GetXpos(), 65535u);
    EXPECT_EQ(m.GetYpos(), 65534u);
}
