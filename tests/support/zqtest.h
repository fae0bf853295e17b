// Test harness for the Windows tests: a main that can also run a named
// "child" scenario, and a runner that starts such a child, watches for the
// real message boxes it shows, reads and closes them, and reports how the
// child ended.
#ifndef ZQTEST_H
#define ZQTEST_H

#include <string>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

struct ZQBox {
    std::string Text;
    std::string Caption;
    bool Topmost = false;   // system-modal boxes are made topmost
    bool Icon = false;      // the icon control is shown with an icon
    int Buttons = 0;        // visible push buttons
};

struct ZQChild {
    DWORD ExitCode = 0;
    bool TimedOut = false;
    std::vector<ZQBox> Boxes;
};

// Runs this executable again with "--zq-child=<scenario>"; every box the
// child shows is recorded and closed with OK.
ZQChild ZQ_RunChild(const char* scenario, DWORD timeoutMs = 60000);

typedef void (*ZQChildBody)();
struct ZQChildRegistration {
    ZQChildRegistration(const char* name, ZQChildBody body);
};

// Defines a child scenario. Its body runs in the child process; returning
// from it ends the child with exit code 0.
#define ZQ_CHILD(name)                                                               \
    static void zq_child_##name();                                                   \
    static ZQChildRegistration zq_child_reg_##name(#name, zq_child_##name);          \
    static void zq_child_##name()

// The child ended with `exitCode` after exactly one box with `caption`
// whose text is `text` (or, with `prefix`, starts with it and goes on).
// System-modal boxes are topmost; every box of the engine has the error icon
// and one button.
::testing::AssertionResult ZQ_OneBox(const ZQChild& child, DWORD exitCode, const std::string& text,
                                     const std::string& caption, bool prefix = false, bool systemModal = true);

// Path of a file next to the test executable.
std::string ZQ_ExeDir();

// Whole contents of a file ("" if it cannot be read).
std::string ZQ_ReadFile(const char* path);
// The same for a text-mode file, its CR LF line ends read back as LF.
std::string ZQ_ReadTextFile(const char* path);

// A file name in the system's temporary folder.
std::string ZQ_TempPath(const char* name);
// Writes bytes to a file whole; a file that cannot be made fails the test.
void ZQ_WriteFile(const std::string& path, const std::string& bytes);

#endif
