#include "zkbd.h"

#include <cstring>

CZKbd::CZKbd()
{
    memset(State, 0, sizeof(State));
    Changed = 0;
    LastKey = 0;
}

void CZKbd::PressKeyCode(unsigned short code)
{
    if (code >= ZKBD_KEYS)
        return;
    State[code] = 1;
    Changed = 1;
    LastKey = (unsigned char)code;
}

void CZKbd::ReleaseKeyCode(unsigned short code)
{
    if (code < ZKBD_KEYS)
        State[code] = 0;
}

int CZKbd::KeyState(unsigned short code)
{
    return code < ZKBD_KEYS ? State[code] : 0;
}

int CZKbd::KeyChanged()
{
    int c = Changed;
    Changed = 0;
    return c;
}

char CZKbd::GetLastScan()
{
    return (char)LastKey;
}
