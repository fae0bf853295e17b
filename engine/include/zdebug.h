// CZDebug: error boxes and the append-only log. Every fatal path in the
// engine ends in ShowMessageAndExit.
#ifndef ZARQUEL_ZDEBUG_H
#define ZARQUEL_ZDEBUG_H

#include <cstdint>

#include "zapi.h"

// The log's line buffer; a formatted line keeps 3 bytes for "\r\n" and the
// terminator, so at most ZDEBUG_LINE_MAX - 3 characters of text are kept.
#define ZDEBUG_LINE_MAX 500

class ZQAPI CZDebug {
public:
    CZDebug();
    ~CZDebug();

    // System-modal error box (MB_SYSTEMMODAL | MB_ICONERROR); returns when closed.
    void ShowMessage(const char* text, const char* caption);
    // The same box, then the process ends with exit code 1.
    [[noreturn]] void ShowMessageAndExit(const char* text, const char* caption);
    // Appends one printf-formatted line, ended by "\r\n", to "c:\zarquel.log".
    void OutputDebug(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
    // The same, once per bit: a refusal a caller may repeat every frame is
    // logged the first time (`bit` is then set in *logged).
    void OutputDebugOnce(uint32_t* logged, uint32_t bit, const char* format, ...)
        __attribute__((format(gnu_printf, 4, 5)));
};

#endif
