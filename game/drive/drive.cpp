#include "drive.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool DriveStart(DriveRun* run, const char* exe, const char* folder)
{
    memset(run, 0, sizeof *run);
    run->Map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BF04_PROBE),
                                  BF04_PROBE_NAME);
    if (run->Map) {
        run->Probe = (BF04_PROBE*)MapViewOfFile(run->Map, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(BF04_PROBE));
        if (run->Probe)
            memset(run->Probe, 0, sizeof(BF04_PROBE));
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    char command[MAX_PATH + 2];
    snprintf(command, sizeof command, "\"%s\"", exe);
    return CreateProcessA(exe, command, nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &run->Process) != 0;
}

struct FindState {
    DWORD Pid;
    const char* Title;
    HWND Found;
};

static BOOL CALLBACK DRIVE_Enum(HWND window, LPARAM data)
{
    FindState* s = (FindState*)data;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char title[256];
    if (pid == s->Pid && IsWindowVisible(window) && GetWindowTextA(window, title, sizeof title) &&
        !strcmp(title, s->Title)) {
        s->Found = window;
        return FALSE;
    }
    return TRUE;
}

HWND DriveFindWindow(const DriveRun* run, const char* title, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 50) {
        FindState s = {run->Process.dwProcessId, title, nullptr};
        EnumWindows(DRIVE_Enum, (LPARAM)&s);
        if (s.Found)
            return s.Found;
        if (WaitForSingleObject(run->Process.hProcess, 50) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

void DriveClick(HWND dialog, int control)
{
    // As a mouse click does: the button changes state and tells the dialog.
    PostMessageA(GetDlgItem(dialog, control), BM_CLICK, 0, 0);
    Sleep(100);
}

void DriveSetText(HWND dialog, int control, const char* text)
{
    DWORD_PTR result;
    SendMessageTimeoutA(GetDlgItem(dialog, control), WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &result);
}

void DriveKey(HWND window, int key, bool down)
{
    UINT scan = MapVirtualKeyA(key, 0);
    LPARAM l = 1 | (scan << 16) | (down ? 0 : (3u << 30));
    PostMessageA(window, down ? WM_KEYDOWN : WM_KEYUP, key, l);
}

void DrivePress(HWND window, int key, int holdMs)
{
    DriveKey(window, key, true);
    Sleep(holdMs);
    DriveKey(window, key, false);
}

bool DriveWaitTicks(const DriveRun* run, uint32_t ticks, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        if (run->Probe && run->Probe->Ticks >= ticks)
            return true;
        Sleep(5);
    }
    return false;
}

bool DriveHealth(const DriveRun* run, BF04_HEALTH* health)
{
    if (!run->Probe)
        return false;
    volatile BF04_HEALTH* h = &run->Probe->Health;
    for (int tries = 0; tries < 100; tries++) {
        const uint32_t before = h->Sequence;
        MemoryBarrier();
        memcpy(health, (const void*)h, sizeof *health);
        MemoryBarrier();
        if (!(before & 1) && before == h->Sequence)
            return health->Samples != 0;
        Sleep(1);
    }
    return false;
}

int DriveWaitExit(DriveRun* run, int timeoutMs)
{
    if (WaitForSingleObject(run->Process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(run->Process.hProcess, 99);
        WaitForSingleObject(run->Process.hProcess, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(run->Process.hProcess, &code);
    return (int)code;
}

void DriveClose(DriveRun* run)
{
    if (run->Process.hProcess) {
        if (WaitForSingleObject(run->Process.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(run->Process.hProcess, 99);
        CloseHandle(run->Process.hProcess);
        CloseHandle(run->Process.hThread);
    }
    if (run->Probe)
        UnmapViewOfFile(run->Probe);
    if (run->Map)
        CloseHandle(run->Map);
    memset(run, 0, sizeof *run);
}

bool DriveSixteenBitScreen()
{
    HDC dc = GetDC(nullptr);
    bool ok = GetDeviceCaps(dc, BITSPIXEL) == 16 && GetDeviceCaps(dc, HORZRES) == 640 &&
              GetDeviceCaps(dc, VERTRES) == 480;
    ReleaseDC(nullptr, dc);
    return ok;
}

bool DriveScreenshot(DriveImage* image)
{
    const int w = 640, h = 480;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(memory, dib);
        ok = BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        image->Width = w;
        image->Height = h;
        image->Bgr.resize(w * h * 3);
        int stride = (w * 3 + 3) & ~3;
        for (int y = 0; y < h; y++)
            memcpy(&image->Bgr[y * w * 3], (uint8_t*)bits + y * stride, w * 3);
        SelectObject(memory, old);
        DeleteObject(dib);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

double DriveMatch(const DriveImage& screen, const DriveImage& picture, int tolerance, bool above)
{
    long good = 0, total = 0;
    for (int y = 8; y < 472; y += 2)
        for (int x = 8; x < 632; x += 2) {
            const uint8_t* s = screen.At(x, y);
            const uint8_t* p = picture.At(x, y);
            bool ok = true;
            for (int c = 0; c < 3; c++)
                ok = ok && (above ? s[c] + tolerance >= p[c] : abs(s[c] - p[c]) <= tolerance);
            good += ok;
            total++;
        }
    return (double)good / total;
}

bool DriveSaveBmp(const DriveImage& image, const char* path)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return false;
    int stride = (image.Width * 3 + 3) & ~3;
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + stride * image.Height;
    ih.biSize = sizeof ih;
    ih.biWidth = image.Width;
    ih.biHeight = -image.Height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&ih, sizeof ih, 1, f);
    std::vector<uint8_t> row(stride, 0);
    for (int y = 0; y < image.Height; y++) {
        memcpy(row.data(), &image.Bgr[y * image.Width * 3], image.Width * 3);
        fwrite(row.data(), stride, 1, f);
    }
    return fclose(f) == 0;
}

bool DriveLoadBmp(DriveImage* image, const char* path)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return false;
    BITMAPFILEHEADER fh;
    BITMAPINFOHEADER ih;
    bool ok = fread(&fh, sizeof fh, 1, f) == 1 && fread(&ih, sizeof ih, 1, f) == 1 && fh.bfType == 0x4D42 &&
              ih.biBitCount == 24 && ih.biWidth > 0 && ih.biWidth <= 4096 && ih.biHeight != 0 &&
              ih.biHeight >= -4096 && ih.biHeight <= 4096;
    if (ok) {
        int w = ih.biWidth, h = ih.biHeight < 0 ? -ih.biHeight : ih.biHeight;
        int stride = (w * 3 + 3) & ~3;
        image->Width = w;
        image->Height = h;
        image->Bgr.resize(w * h * 3);
        std::vector<uint8_t> row(stride);
        fseek(f, fh.bfOffBits, SEEK_SET);
        for (int i = 0; i < h && ok; i++) {
            int y = ih.biHeight < 0 ? i : h - 1 - i;
            ok = fread(row.data(), stride, 1, f) == 1;
            memcpy(&image->Bgr[y * w * 3], row.data(), w * 3);
        }
    }
    fclose(f);
    return ok;
}

bool DriveRawToWav(const char* raw, const char* wav)
{
    FILE* in = fopen(raw, "rb");
    if (!in)
        return false;
    FILE* out = fopen(wav, "wb");
    if (!out) {
        fclose(in);
        return false;
    }
    fseek(in, 0, SEEK_END);
    uint32_t bytes = (uint32_t)ftell(in) & ~7u;
    fseek(in, 0, SEEK_SET);
    // RIFF header of an IEEE float (format 3) stereo file at 48 kHz.
    struct {
        char riff[4]; uint32_t size; char wave[4]; char fmt[4]; uint32_t fmtSize;
        uint16_t format, channels; uint32_t rate, byteRate; uint16_t align, bits;
        char data[4]; uint32_t dataSize;
    } h = {{'R', 'I', 'F', 'F'}, 36 + bytes, {'W', 'A', 'V', 'E'}, {'f', 'm', 't', ' '}, 16, 3, 2, 48000,
           48000 * 8, 8, 32, {'d', 'a', 't', 'a'}, bytes};
    static_assert(sizeof h == 44, "WAV header");
    fwrite(&h, sizeof h, 1, out);
    std::vector<char> buffer(1 << 16);
    size_t n;
    uint32_t left = bytes;
    while (left && (n = fread(buffer.data(), 1, left < buffer.size() ? left : buffer.size(), in)) > 0) {
        fwrite(buffer.data(), 1, n, out);
        left -= (uint32_t)n;
    }
    fclose(in);
    return fclose(out) == 0;
}

bool DriveOpenGame(DriveRun* run, HWND* dialog, const char* folder)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    strcpy(strrchr(exe, '\\') + 1, "brolfest04_probe.exe");
    *dialog = nullptr;
    if (!DriveStart(run, exe, folder) || !run->Probe) {
        fprintf(stderr, "cannot start %s\n", exe);
        return false;
    }
    *dialog = DriveFindWindow(run, DRIVE_DIALOG_TITLE, 30000);
    if (!*dialog)
        fprintf(stderr, "%s shows no start dialog\n", exe);
    return *dialog != nullptr;
}
