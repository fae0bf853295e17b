// CameraPath: a Catmull-Rom path through the control points of a ".tcp" file
// (a signed 32-bit count N, then N points of three floats), sampled into
// (N - 3) x segments points and read at a parameter t in [0, 1).
#ifndef BF04_CAMERAPATH_H
#define BF04_CAMERAPATH_H
#include <cstdint>
#include "zarquel.h"

#define CAMERAPATH_SEGMENTS 50     // spline points per span unless SetSegments says otherwise
#define CAMERAPATH_MIN_POINTS 4    // the two end points only shape the curve

class CameraPath {
public:
    CameraPath();
    virtual ~CameraPath();
    void Load(const char* name);
    void SetSegments(int segments);
    Vector3 Eval(float t);

    int32_t ControlCount;
    Vector3* Control;              // inside FileBuffer
    int32_t SplineCount;
    Vector3* Spline;
    int32_t Segments;
    uint32_t FileSize;
    void* FileBuffer;
    uint8_t Dirty;
    CZarquel* Engine;              // set by the creator right after construction
    uint32_t SplineBytes;          // what Spline was allocated with
private:
    void TCP_Build();
};

#endif
