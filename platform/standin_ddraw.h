// Stand-in declarations for the part of DirectDraw 7 that the game calls, for
// Linux: the four interfaces as abstract structs with the real method names
// (only the methods the game uses, plus Release), the records with their
// real layouts, and the flag and result values of the real ddraw.h.
// Never compiled on Windows: platform/winapi.h picks the real headers there.
#pragma once

#include "platform/standin_windows.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
typedef GUID IID;
typedef const IID& REFIID;
struct IUnknown;  // only ever passed as "no outer object"

extern const IID IID_IDirectDraw7;

// --- results ------------------------------------------------------------------
#define DD_OK 0
#define DDERR_GENERIC ((HRESULT)0x80004005L)
#define DDERR_UNSUPPORTED ((HRESULT)0x80004001L)
#define DDERR_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define DDERR_INVALIDPARAMS ((HRESULT)0x80070057L)
#define DDERR_INVALIDOBJECT ((HRESULT)0x88760082L)
#define DDERR_INVALIDRECT ((HRESULT)0x88760096L)
#define DDERR_NOCLIPLIST ((HRESULT)0x887600CDL)
#define DDERR_NOEXCLUSIVEMODE ((HRESULT)0x887600E1L)
#define DDERR_NOTFOUND ((HRESULT)0x887600FFL)
#define DDERR_SURFACEBUSY ((HRESULT)0x887601AEL)
#define DDERR_SURFACELOST ((HRESULT)0x887601C2L)
#define DDERR_PRIMARYSURFACEALREADYEXISTS ((HRESULT)0x88760234L)
#define DDERR_NOTFLIPPABLE ((HRESULT)0x88760246L)
#define DDERR_NOTLOCKED ((HRESULT)0x88760248L)
#define DDERR_CANTCREATEDC ((HRESULT)0x88760249L)
#define DDERR_DCALREADYCREATED ((HRESULT)0x8876026CL)

// --- flags --------------------------------------------------------------------
#define DDSCL_FULLSCREEN 0x00000001L
#define DDSCL_ALLOWREBOOT 0x00000002L
#define DDSCL_EXCLUSIVE 0x00000010L
#define DDSCL_ALLOWMODEX 0x00000040L

#define DDSD_CAPS 0x00000001L
#define DDSD_HEIGHT 0x00000002L
#define DDSD_WIDTH 0x00000004L
#define DDSD_PITCH 0x00000008L
#define DDSD_BACKBUFFERCOUNT 0x00000020L
#define DDSD_LPSURFACE 0x00000800L

#define DDSCAPS_BACKBUFFER 0x00000004L
#define DDSCAPS_COMPLEX 0x00000008L
#define DDSCAPS_FLIP 0x00000010L
#define DDSCAPS_OFFSCREENPLAIN 0x00000040L
#define DDSCAPS_PRIMARYSURFACE 0x00000200L

#define DDPCAPS_8BIT 0x00000004L
#define DDPCAPS_ALLOW256 0x00000040L

#define DDBLT_ASYNC 0x00000200L
#define DDBLT_COLORFILL 0x00000400L
#define DDBLT_KEYSRC 0x00008000L
#define DDBLT_WAIT 0x01000000L

#define DDFLIP_WAIT 0x00000001L
#define DDCKEY_SRCBLT 0x00000008L
#define DDLOCK_WAIT 0x00000001L

// --- records --------------------------------------------------------------------
struct DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
};
typedef DDCOLORKEY* LPDDCOLORKEY;

struct DDSCAPS2 {
    DWORD dwCaps;
    DWORD dwCaps2;
    DWORD dwCaps3;
    DWORD dwCaps4;
};
typedef DDSCAPS2* LPDDSCAPS2;

struct DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    DWORD dwRGBBitCount;
    DWORD dwRBitMask;
    DWORD dwGBitMask;
    DWORD dwBBitMask;
    DWORD dwRGBAlphaBitMask;
};

struct DDSURFACEDESC2 {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    union {
        LONG lPitch;
        DWORD dwLinearSize;
    };
    union {
        DWORD dwBackBufferCount;
        DWORD dwDepth;
    };
    union {
        DWORD dwMipMapCount;
        DWORD dwRefreshRate;
        DWORD dwSrcVBHandle;
    };
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    LPVOID lpSurface;
    union {
        DDCOLORKEY ddckCKDestOverlay;
        DWORD dwEmptyFaceColor;
    };
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    union {
        DDPIXELFORMAT ddpfPixelFormat;
        DWORD dwFVF;
    };
    DDSCAPS2 ddsCaps;
    DWORD dwTextureStage;
};
typedef DDSURFACEDESC2* LPDDSURFACEDESC2;

// The pointer members (surfaces of the older interface, never used here)
// are kept as untyped pointers so that the record has its real size.
struct DDBLTFX {
    DWORD dwSize;
    DWORD dwDDFX;
    DWORD dwROP;
    DWORD dwDDROP;
    DWORD dwRotationAngle;
    DWORD dwZBufferOpCode;
    DWORD dwZBufferLow;
    DWORD dwZBufferHigh;
    DWORD dwZBufferBaseDest;
    DWORD dwZDestConstBitDepth;
    union {
        DWORD dwZDestConst;
        void* lpDDSZBufferDest;
    };
    DWORD dwZSrcConstBitDepth;
    union {
        DWORD dwZSrcConst;
        void* lpDDSZBufferSrc;
    };
    DWORD dwAlphaEdgeBlendBitDepth;
    DWORD dwAlphaEdgeBlend;
    DWORD dwReserved;
    DWORD dwAlphaDestConstBitDepth;
    union {
        DWORD dwAlphaDestConst;
        void* lpDDSAlphaDest;
    };
    DWORD dwAlphaSrcConstBitDepth;
    union {
        DWORD dwAlphaSrcConst;
        void* lpDDSAlphaSrc;
    };
    union {
        DWORD dwFillColor;
        DWORD dwFillDepth;
        DWORD dwFillPixel;
        void* lpDDSPattern;
    };
    DDCOLORKEY ddckDestColorkey;
    DDCOLORKEY ddckSrcColorkey;
};
typedef DDBLTFX* LPDDBLTFX;

// --- interfaces -------------------------------------------------------------------
struct IDirectDrawClipper {
    virtual ULONG Release() = 0;
    virtual HRESULT SetClipList(LPRGNDATA lpClipList, DWORD dwFlags) = 0;

  protected:
    ~IDirectDrawClipper() = default;
};
typedef IDirectDrawClipper* LPDIRECTDRAWCLIPPER;

struct IDirectDrawPalette {
    virtual ULONG Release() = 0;
    virtual HRESULT SetEntries(DWORD dwFlags, DWORD dwStartingEntry, DWORD dwCount,
                               LPPALETTEENTRY lpEntries) = 0;

  protected:
    ~IDirectDrawPalette() = default;
};
typedef IDirectDrawPalette* LPDIRECTDRAWPALETTE;

struct IDirectDrawSurface7;
typedef IDirectDrawSurface7* LPDIRECTDRAWSURFACE7;

struct IDirectDrawSurface7 {
    virtual ULONG Release() = 0;
    virtual HRESULT Blt(LPRECT lpDestRect, LPDIRECTDRAWSURFACE7 lpDDSrcSurface, LPRECT lpSrcRect,
                        DWORD dwFlags, LPDDBLTFX lpDDBltFx) = 0;
    virtual HRESULT Flip(LPDIRECTDRAWSURFACE7 lpDDSurfaceTargetOverride, DWORD dwFlags) = 0;
    virtual HRESULT GetAttachedSurface(LPDDSCAPS2 lpDDSCaps,
                                       LPDIRECTDRAWSURFACE7* lplpDDAttachedSurface) = 0;
    virtual HRESULT GetDC(HDC* lphDC) = 0;
    virtual HRESULT Lock(LPRECT lpDestRect, LPDDSURFACEDESC2 lpDDSurfaceDesc, DWORD dwFlags,
                         HANDLE hEvent) = 0;
    virtual HRESULT ReleaseDC(HDC hDC) = 0;
    virtual HRESULT SetClipper(LPDIRECTDRAWCLIPPER lpDDClipper) = 0;
    virtual HRESULT SetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) = 0;
    virtual HRESULT SetPalette(LPDIRECTDRAWPALETTE lpDDPalette) = 0;
    virtual HRESULT Unlock(LPRECT lpRect) = 0;

  protected:
    ~IDirectDrawSurface7() = default;
};

struct IDirectDraw7 {
    virtual ULONG Release() = 0;
    virtual HRESULT CreateClipper(DWORD dwFlags, LPDIRECTDRAWCLIPPER* lplpDDClipper,
                                  IUnknown* pUnkOuter) = 0;
    virtual HRESULT CreatePalette(DWORD dwFlags, LPPALETTEENTRY lpDDColorArray,
                                  LPDIRECTDRAWPALETTE* lplpDDPalette, IUnknown* pUnkOuter) = 0;
    virtual HRESULT CreateSurface(LPDDSURFACEDESC2 lpDDSurfaceDesc2,
                                  LPDIRECTDRAWSURFACE7* lplpDDSurface, IUnknown* pUnkOuter) = 0;
    virtual HRESULT SetCooperativeLevel(HWND hWnd, DWORD dwFlags) = 0;
    virtual HRESULT SetDisplayMode(DWORD dwWidth, DWORD dwHeight, DWORD dwBPP, DWORD dwRefreshRate,
                                   DWORD dwFlags) = 0;
    virtual HRESULT RestoreAllSurfaces() = 0;

  protected:
    ~IDirectDraw7() = default;
};
typedef IDirectDraw7* LPDIRECTDRAW7;

HRESULT WINAPI DirectDrawCreateEx(GUID* lpGuid, LPVOID* lplpDD, REFIID iid, IUnknown* pUnkOuter);
