#include "zdebug.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <windows.h>

// MB_SYSTEMMODAL | MB_ICONERROR: stays above a full-screen window.
static const UINT DBG_BOX_STYLE = 0x1010;

CZDebug::CZDebug() {}
CZDebug::~CZDebug() {}

void CZDebug::ShowMessage(const char* text, const char* caption)
{
    // The display hides the cursor in full screen; the box needs it.
    ShowCursor(TRUE);
    MessageBoxA(NULL, text, caption, DBG_BOX_STYLE);
}

void CZDebug::ShowMessageAndExit(const char* text, const char* caption)
{
    ShowMessage(text, caption);
    ExitProcess(1);
}

static void DEBUG_Write(const char* format, va_list args)
{
    // Opened anew for every line so that the log survives a crash right
    // after the call and several processes can append in turn. Binary mode:
    // the line end is exactly CR LF.
    FILE* f = fopen("c:\\zarquel.log", "a+b");
    if (!f)
        return;
    char line[ZDEBUG_LINE_MAX];
    // Longer results are cut, keeping room for the line end and terminator.
    int n = vsnprintf(line, ZDEBUG_LINE_MAX - 2, format, args);
    size_t len = n < 0 ? 0 : strlen(line);
    line[len] = '\r';
    line[len + 1] = '\n';
    fwrite(line, 1, len + 2, f);
    fclose(f);
}

void CZDebug::OutputDebug(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    DEBUG_Write(format, args);
    va_end(args);
}

void CZDebug::OutputDebugOnce(uint32_t* logged, uint32_t bit, const char* format, ...)
{
    if (*logged & bit)
        return;
    *logged |= bit;
    va_list args;
    va_start(args, format);
    DEBUG_Write(format, args);
    va_end(args);
}
