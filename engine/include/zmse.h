// CZMse: mouse state fed by the display's window procedure.
#ifndef ZARQUEL_ZMSE_H
#define ZARQUEL_ZMSE_H

#include "zapi.h"

class ZQAPI CZMse {
public:
    CZMse();

    // flags: the wParam of a mouse message (MK_LBUTTON 0x1, MK_RBUTTON 0x2,
    // MK_MBUTTON 0x10); position: its lParam (x low 16 bits, y high 16 bits).
    void SetMouse(unsigned short flags, unsigned long position);
    int GetLButton();
    int GetRButton();
    int GetMButton();
    unsigned long GetXpos();
    unsigned long GetYpos();
    int MouseChanged();     // read and clear

    int LButton, RButton, MButton;
    int Changed;
    unsigned long X, Y;
};

#endif
