// CZKbd: keyboard state fed by the display's window procedure.
#ifndef ZARQUEL_ZKBD_H
#define ZARQUEL_ZKBD_H

#include "zapi.h"

// Size of the key table; virtual-key codes stay below it. Codes at or above
// it are ignored instead of being written outside the table.
#define ZKBD_KEYS 1024

class ZQAPI CZKbd {
public:
    CZKbd();

    void PressKeyCode(unsigned short code);
    void ReleaseKeyCode(unsigned short code);
    int KeyState(unsigned short code);
    int KeyChanged();       // read and clear
    char GetLastScan();

    int State[ZKBD_KEYS];   // 1 down, 0 up
    int Changed;            // set by every press
    unsigned char LastKey;  // low byte of the last pressed code
};

#endif
