#include "zqtest.h"

#include <cstdio>
#include <cstring>
#include <map>

static std::map<std::string, ZQChildBody>& ZQ_Children()
{
    static std::map<std::string, ZQChildBody> children;
    return children;
}

ZQChildRegistration::ZQChildRegistration(const char* name, ZQChildBody body)
{
    ZQ_Children()[name] = body;
}

std::string ZQ_ExeDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof(path));
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

std::string ZQ_TempPath(const char* name)
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    return std::string(dir) + name;
}

void ZQ_WriteFile(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string ZQ_ReadFile(const char* path)
{
    std::string out;
    FILE* f = fopen(path, "rb");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

std::string ZQ_ReadTextFile(const char* path)
{
    std::string raw = ZQ_ReadFile(path), out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); i++)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n'))
            out += raw[i];
    return out;
}

::testing::AssertionResult ZQ_OneBox(const ZQChild& c, DWORD exitCode, const std::string& text,
                                     const std::string& caption, bool prefix, bool systemModal)
{
    if (c.TimedOut)
        return ::testing::AssertionFailure() << "the child did not end";
    if (c.ExitCode != exitCode)
        return ::testing::AssertionFailure() << "exit code " << c.ExitCode << ", expected " << exitCode;
    if (c.Boxes.size() != 1)
        return ::testing::AssertionFailure() << c.Boxes.size() << " boxes, expected one";
    const ZQBox& b = c.Boxes[0];
    const bool textOk = prefix ? (b.Text.size() > text.size() && b.Text.compare(0, text.size(), text) == 0)
                               : b.Text == text;
    if (!textOk)
        return ::testing::AssertionFailure() << "text \"" << b.Text << "\", expected " << (prefix ? "more than " : "")
                                             << "\"" << text << "\"";
    if (b.Caption != caption)
        return ::testing::AssertionFailure() << "caption \"" << b.Caption << "\", expected \"" << caption << "\"";
    if (b.Topmost != systemModal)
        return ::testing::AssertionFailure() << (systemModal ? "not system-modal" : "system-modal");
    if (!b.Icon || b.Buttons != 1)
        return ::testing::AssertionFailure() << "icon " << b.Icon << ", buttons " << b.Buttons;
    return ::testing::AssertionSuccess();
}

namespace {

struct Watch {
    DWORD Pid;
    std::vector<HWND>* Seen;
    std::map<HWND, int>* Polls;   // boxes seen but not yet filled in
    ZQChild* Result;
};

// A box is read once it shows its text and button; one that never does is
// taken as it is after this many polls.
const int ZQ_FILL_POLLS = 25;

BOOL CALLBACK ZQ_Control(HWND control, LPARAM param)
{
    ZQBox* box = (ZQBox*)param;
    char cls[64] = {0};
    GetClassNameA(control, cls, sizeof(cls));
    if (!IsWindowVisible(control))
        return TRUE;
    if (_stricmp(cls, "Static") == 0) {
        LONG style = GetWindowLongA(control, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            box->Icon = SendMessageA(control, STM_GETICON, 0, 0) != 0;
        } else {
            char text[2048] = {0};
            GetWindowTextA(control, text, sizeof(text));
            if (text[0])
                box->Text = text;
        }
    } else if (_stricmp(cls, "Button") == 0) {
        box->Buttons++;
    }
    return TRUE;
}

BOOL CALLBACK ZQ_TopLevel(HWND hwnd, LPARAM param)
{
    Watch* w = (Watch*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != w->Pid || !IsWindowVisible(hwnd))
        return TRUE;
    char cls[64] = {0};
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (strcmp(cls, "#32770") != 0)
        return TRUE;
    for (HWND seen : *w->Seen)
        if (seen == hwnd)
            return TRUE;
    ZQBox box;
    char caption[512] = {0};
    GetWindowTextA(hwnd, caption, sizeof(caption));
    box.Caption = caption;
    box.Topmost = (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    EnumChildWindows(hwnd, ZQ_Control, (LPARAM)&box);
    if ((box.Text.empty() || box.Buttons == 0) && ++(*w->Polls)[hwnd] < ZQ_FILL_POLLS)
        return TRUE;
    w->Seen->push_back(hwnd);
    w->Result->Boxes.push_back(box);
    HWND ok = GetDlgItem(hwnd, IDOK);
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok);
    return TRUE;
}

} // namespace

ZQChild ZQ_RunChild(const char* scenario, DWORD timeoutMs)
{
    ZQChild result;
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof(self));
    std::string cmd = std::string("\"") + self + "\" --zq-child=" + scenario;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        ADD_FAILURE() << "cannot start child " << scenario;
        result.ExitCode = 0xFFFFFFFF;
        return result;
    }
    std::vector<HWND> seen;
    std::map<HWND, int> polls;
    Watch watch = {pi.dwProcessId, &seen, &polls, &result};
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD r = WaitForSingleObject(pi.hProcess, 20);
        EnumWindows(ZQ_TopLevel, (LPARAM)&watch);
        if (r == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start > timeoutMs) {
            result.TimedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, INFINITE);
            break;
        }
    }
    GetExitCodeProcess(pi.hProcess, &result.ExitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

int main(int argc, char** argv)
{
    const char prefix[] = "--zq-child=";
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], prefix, sizeof(prefix) - 1) == 0) {
            auto it = ZQ_Children().find(argv[i] + sizeof(prefix) - 1);
            if (it == ZQ_Children().end()) {
                fprintf(stderr, "unknown child scenario %s\n", argv[i]);
                return 3;
            }
            it->second();
            return 0;
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
