#include "vgs_spy.h"

#include <cstring>

ZQSpy* ZQSpy::Current = nullptr;

namespace {

typedef HRESULT(__stdcall* TestFn)(IDirect3DDevice9*);
typedef HRESULT(__stdcall* ResetFn)(IDirect3DDevice9*, D3DPRESENT_PARAMETERS*);
typedef HRESULT(__stdcall* PresentFn)(IDirect3DDevice9*, const RECT*, const RECT*, HWND, const RGNDATA*);
typedef HRESULT(__stdcall* SceneFn)(IDirect3DDevice9*);
typedef HRESULT(__stdcall* ClearFn)(IDirect3DDevice9*, DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD);

template <class F> F Orig(int slot) { return (F)ZQSpy::Current->Original[slot]; }

HRESULT __stdcall SpyTest(IDirect3DDevice9* d)
{
    if (ZQSpy::Current->ForcedState)
        return ZQSpy::Current->ForcedState;
    return Orig<TestFn>(ZQSpy::TEST_COOPERATIVE_LEVEL)(d);
}

HRESULT __stdcall SpyReset(IDirect3DDevice9* d, D3DPRESENT_PARAMETERS* pp)
{
    ZQSpy::Current->Calls += 'R';
    if (ZQSpy::Current->ForcedResetFailure)
        return ZQSpy::Current->ForcedResetFailure;
    return Orig<ResetFn>(ZQSpy::RESET)(d, pp);
}

HRESULT __stdcall SpyPresent(IDirect3DDevice9* d, const RECT* s, const RECT* t, HWND w, const RGNDATA* r)
{
    ZQSpy::Current->Calls += 'P';
    ZQSpy::Current->PresentSource = s;
    ZQSpy::Current->PresentDestination = t;
    return Orig<PresentFn>(ZQSpy::PRESENT)(d, s, t, w, r);
}

HRESULT __stdcall SpyBegin(IDirect3DDevice9* d)
{
    ZQSpy::Current->Calls += 'B';
    return Orig<SceneFn>(ZQSpy::BEGIN_SCENE)(d);
}

HRESULT __stdcall SpyEnd(IDirect3DDevice9* d)
{
    ZQSpy* spy = ZQSpy::Current;
    spy->Calls += 'E';
    if (spy->PaintScene)
        spy->Fill(spy->SceneColour, &spy->SceneRect);
    return Orig<SceneFn>(ZQSpy::END_SCENE)(d);
}

HRESULT __stdcall SpyClear(IDirect3DDevice9* d, DWORD n, const D3DRECT* rects, DWORD flags, D3DCOLOR colour,
                           float z, DWORD stencil)
{
    ZQSpy* spy = ZQSpy::Current;
    if (flags & D3DCLEAR_TARGET) {
        spy->Calls += 'C';
        spy->ClearColour = colour;
    } else {
        spy->Calls += 'Z';
    }
    return Orig<ClearFn>(ZQSpy::CLEAR)(d, n, rects, flags, colour, z, stencil);
}

} // namespace

void ZQSpy::Install(IDirect3DDevice9* device)
{
    Device = device;
    Original = *(void***)device;
    memcpy(Table, Original, sizeof(Table));
    Table[TEST_COOPERATIVE_LEVEL] = (void*)SpyTest;
    Table[RESET] = (void*)SpyReset;
    Table[PRESENT] = (void*)SpyPresent;
    Table[BEGIN_SCENE] = (void*)SpyBegin;
    Table[END_SCENE] = (void*)SpyEnd;
    Table[CLEAR] = (void*)SpyClear;
    Current = this;
    *(void***)device = Table;
}

void ZQSpy::Remove()
{
    if (Device)
        *(void***)Device = Original;
    Device = nullptr;
    Current = nullptr;
}

void ZQSpy::Fill(D3DCOLOR colour, const RECT* rect)
{
    D3DRECT r;
    if (rect) {
        r.x1 = rect->left;
        r.y1 = rect->top;
        r.x2 = rect->right;
        r.y2 = rect->bottom;
    }
    ((ClearFn)Original[CLEAR])(Device, rect ? 1 : 0, rect ? &r : nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0);
}
