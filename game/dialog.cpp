// The start dialog: the player's handle and windowed or full-screen display.
#include <cstring>
#include "bf04.h"
#include "resource.h"

static void DLG_Choose(HWND dialog, int fullScreen)
{
    CheckDlgButton(dialog, IDC_WINDOWED, fullScreen ? BST_UNCHECKED : BST_CHECKED);
    CheckDlgButton(dialog, IDC_FULLSCREEN, fullScreen ? BST_CHECKED : BST_UNCHECKED);
    G.FullScreen = fullScreen;
}

static INT_PTR CALLBACK DLG_Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        HINSTANCE instance = (HINSTANCE)lParam;
        HICON big = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_BF04), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                      GetSystemMetrics(SM_CYICON), 0);
        HICON small = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_BF04), IMAGE_ICON,
                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
        SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)big);
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)small);
        BF04_PROBE_DO(P->DialogIcons = (SendMessageA(dialog, WM_GETICON, ICON_BIG, 0) ? 1 : 0) |
                                       (SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0) ? 2 : 0));
        DLG_Choose(dialog, 1);
        G.Handle[0] = 0;
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_HANDLE:
            if (HIWORD(wParam) == EN_CHANGE) {
                char text[256];
                GetDlgItemTextA(dialog, IDC_HANDLE, text, sizeof text);
                lstrcpynA(G.Handle, text, BF04_HANDLE_CHARS + 1);
            }
            return TRUE;
        case IDC_WINDOWED:
            DLG_Choose(dialog, 0);
            return TRUE;
        case IDC_FULLSCREEN:
            DLG_Choose(dialog, 1);
            return TRUE;
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

int RunStartDialog(HINSTANCE instance)
{
    G.FullScreen = 1;
    G.Handle[0] = 0;
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_START), nullptr, DLG_Proc, (LPARAM)instance);
    return result == 1;
}
