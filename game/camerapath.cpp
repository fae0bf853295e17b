#include "camerapath.h"
#include <cmath>
#include "bf04.h"
#include "tcpfile.h"

CameraPath::CameraPath()
{
    ControlCount = 0;
    Control = nullptr;
    SplineCount = 0;
    Spline = nullptr;
    Segments = CAMERAPATH_SEGMENTS;
    FileSize = 0;
    FileBuffer = nullptr;
    Dirty = 1;
    Engine = nullptr;
    SplineBytes = 0;
}

CameraPath::~CameraPath()
{
    if (FileBuffer)
        Engine->Mem->FreeMem(FileBuffer, FileSize);
}

void CameraPath::Load(const char* name)
{
    CZXfs* xfs = Engine->Xfs;
    unsigned long file = xfs->OpenFile(name);
    if (FileBuffer)
        Engine->Mem->FreeMem(FileBuffer, FileSize);
    FileSize = xfs->GetFileSize(file);
    FileBuffer = Engine->Mem->GetMem(FileSize);
    xfs->ReadFile(file, FileBuffer, FileSize);
    xfs->CloseFile(file);
    // A count the bytes do not hold would have the spline read past the buffer.
    static_assert(sizeof(Vector3) == TCP_POINT_BYTES, "a control point is a Vector3");
    ControlCount = TCP_ControlCount(FileBuffer, FileSize);
    if (ControlCount < 0) {
        char text[400];
        wsprintfA(text, "Fichero de camara incompleto: %s", name);
        Engine->Debug->ShowMessageAndExit(text, BF04_CAPTION);
    }
    Control = (Vector3*)((uint8_t*)FileBuffer + TCP_COUNT_BYTES);
    Dirty = 1;
}

void CameraPath::SetSegments(int segments)
{
    Segments = segments;
    Dirty = 1;
}

void CameraPath::TCP_Build()
{
    if (Spline)
        Engine->Mem->FreeMem(Spline, SplineBytes);
    Spline = nullptr;
    if (ControlCount < CAMERAPATH_MIN_POINTS)
        Engine->Debug->ShowMessageAndExit("Puntos de control de la spline insuficientes", BF04_CAPTION);
    if (Segments < 1) {
        // No points at all would leave Eval nothing to read.
        Engine->Debug->OutputDebug("CameraPath: %d segments per span; 1 used", (int)Segments);
        Segments = 1;
    }
    SplineCount = (ControlCount - 3) * Segments;
    SplineBytes = SplineCount * sizeof(Vector3);
    Spline = (Vector3*)Engine->Mem->GetMem(SplineBytes);
    Engine->Mth->MakeCRSpline(Control, ControlCount, Spline, Segments);
    Dirty = 0;
}

Vector3 CameraPath::Eval(float t)
{
    if (Dirty)
        TCP_Build();
    float f = SplineCount * t;
    // Before the start (t < 0) rounds down, so the point stays on the path.
    int i = f < 0.0f ? (int)floorf(f) : (int)f;
    // Indices past either end wrap: the path closes on itself.
    int wrapped = i % SplineCount;
    if (wrapped < 0)
        wrapped += SplineCount;
    const Vector3& a = Spline[wrapped];
    if (f == (float)i)
        return a;
    int j = wrapped + 1 > SplineCount - 1 ? 0 : wrapped + 1;
    const Vector3& b = Spline[j];
    float u = f - i;
    return Vector3{a.x + u * (b.x - a.x), a.y + u * (b.y - a.y), a.z + u * (b.z - a.z)};
}
