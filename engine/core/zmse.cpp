#include "zmse.h"

// wParam bits of the mouse messages.
static const unsigned short MSE_LEFT = 0x1;
static const unsigned short MSE_RIGHT = 0x2;
static const unsigned short MSE_MIDDLE = 0x10;

CZMse::CZMse() : LButton(0), RButton(0), MButton(0), Changed(0), X(0), Y(0) {}

void CZMse::SetMouse(unsigned short flags, unsigned long position)
{
    LButton = (flags & MSE_LEFT) ? 1 : 0;
    RButton = (flags & MSE_RIGHT) ? 1 : 0;
    MButton = (flags & MSE_MIDDLE) ? 1 : 0;
    // Unsigned on purpose: -1 left of a captured client area reads 65535.
    X = position & 0xFFFF;
    Y = (position >> 16) & 0xFFFF;
    Changed = 1;
}

int CZMse::GetLButton() { return LButton; }
int CZMse::GetRButton() { return RButton; }
int CZMse::GetMButton() { return MButton; }
unsigned long CZMse::GetXpos() { return X; }
unsigned long CZMse::GetYpos() { return Y; }

int CZMse::MouseChanged()
{
    int c = Changed;
    Changed = 0;
    return c;
}
