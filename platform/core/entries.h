// Every entry of the API that the core provides, once: each function and
// each method of the DirectDraw objects. An entry starts with an ApiCall
// (core.h), the one place that notes the call for the waits, lets a test
// harness inject the entry's failure, and names the entry in a refusal.
#pragma once

// X(entry, the name the platform gives it)
#define VN_API_ENTRIES(X)                                            \
    X(RegisterClassA, "RegisterClassA")                              \
    X(GetSystemMetrics, "GetSystemMetrics")                          \
    X(CreateWindowExA, "CreateWindowExA")                            \
    X(ShowCursor, "ShowCursor")                                      \
    X(LoadIconA, "LoadIconA")                                        \
    X(LoadCursorA, "LoadCursorA")                                    \
    X(GetStockObject, "GetStockObject")                              \
    X(PeekMessageA, "PeekMessageA")                                  \
    X(TranslateMessage, "TranslateMessage")                          \
    X(DispatchMessageA, "DispatchMessageA")                          \
    X(DefWindowProcA, "DefWindowProcA")                              \
    X(PostMessageA, "PostMessageA")                                  \
    X(PostQuitMessage, "PostQuitMessage")                            \
    X(BeginPaint, "BeginPaint")                                      \
    X(EndPaint, "EndPaint")                                          \
    X(GetTickCount, "GetTickCount")                                  \
    X(GetAsyncKeyState, "GetAsyncKeyState")                          \
    X(MessageBeep, "MessageBeep")                                    \
    X(OpenFile, "OpenFile")                                          \
    X(ReadFile, "_lread")                                            \
    X(CloseFile, "_lclose")                                          \
    X(SetTextColor, "SetTextColor")                                  \
    X(SetBkMode, "SetBkMode")                                        \
    X(TextOutA, "TextOutA")                                          \
    X(DirectDrawCreateEx, "DirectDrawCreateEx")                      \
    X(DeviceRelease, "IDirectDraw7::Release")                        \
    X(CreateClipper, "IDirectDraw7::CreateClipper")                  \
    X(CreatePalette, "IDirectDraw7::CreatePalette")                  \
    X(CreateSurface, "IDirectDraw7::CreateSurface")                  \
    X(SetCooperativeLevel, "IDirectDraw7::SetCooperativeLevel")      \
    X(SetDisplayMode, "IDirectDraw7::SetDisplayMode")                \
    X(RestoreAllSurfaces, "IDirectDraw7::RestoreAllSurfaces")        \
    X(SurfaceRelease, "IDirectDrawSurface7::Release")                \
    X(Blt, "IDirectDrawSurface7::Blt")                               \
    X(Flip, "IDirectDrawSurface7::Flip")                             \
    X(GetAttachedSurface, "IDirectDrawSurface7::GetAttachedSurface") \
    X(GetDC, "IDirectDrawSurface7::GetDC")                           \
    X(Lock, "IDirectDrawSurface7::Lock")                             \
    X(ReleaseDC, "IDirectDrawSurface7::ReleaseDC")                   \
    X(SetClipper, "IDirectDrawSurface7::SetClipper")                 \
    X(SetColorKey, "IDirectDrawSurface7::SetColorKey")               \
    X(SetPalette, "IDirectDrawSurface7::SetPalette")                 \
    X(Unlock, "IDirectDrawSurface7::Unlock")                         \
    X(PaletteRelease, "IDirectDrawPalette::Release")                 \
    X(SetEntries, "IDirectDrawPalette::SetEntries")                  \
    X(ClipperRelease, "IDirectDrawClipper::Release")                 \
    X(SetClipList, "IDirectDrawClipper::SetClipList")

namespace standin {

enum class Entry {
#define VN_ENTRY_ENUM(entry, name) entry,
    VN_API_ENTRIES(VN_ENTRY_ENUM)
#undef VN_ENTRY_ENUM
        Count
};

constexpr int kEntryCount = static_cast<int>(Entry::Count);

// The platform's name of an entry ("IDirectDrawSurface7::Blt").
const char* EntryName(Entry entry);

}  // namespace standin
