// The software drawing device: a small device of our own with the semantics of the Direct3D 9 calls
// the engine's GPU layer drawing uses. Surfaces and textures hold 32-bit B,G,R,A pixels (16-bit
// textures keep 4 bits per channel); quads are pre-transformed (rhw 1) and drawn with the Direct3D 9
// rules: pixel centres at whole coordinates, top-left fill, clamp addressing, point or bilinear
// filtering chosen for magnification and minification apart, blend factors and operations applied to alpha as well. The two effect passes are plain
// functions whose parameters are found by name. Every creation step can be made to fail for tests.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
    SG_FMT_A8R8G8B8 = 21,
    SG_FMT_A4R4G4B4 = 26,
};

// Results of the calls that can fail.
enum {
    SG_OK = 0,
    SG_ERR_FAIL = -1,
    SG_ERR_DEVICENOTRESET = -2,
};

// Vertex processing of device creation.
enum { SG_VP_HARDWARE = 0, SG_VP_MIXED = 1, SG_VP_SOFTWARE = 2 };

enum { SG_BLEND_ZERO, SG_BLEND_ONE, SG_BLEND_SRCCOLOR, SG_BLEND_INVSRCCOLOR, SG_BLEND_SRCALPHA,
       SG_BLEND_INVSRCALPHA, SG_BLEND_DESTCOLOR, SG_BLEND_INVDESTCOLOR };
enum { SG_BLENDOP_ADD, SG_BLENDOP_SUBTRACT, SG_BLENDOP_REVSUBTRACT, SG_BLENDOP_MIN, SG_BLENDOP_MAX };
// Filters (the mip filter also takes SG_FILTER_NONE) and the sampler states that take them.
enum { SG_FILTER_NONE = -1, SG_FILTER_POINT = 0, SG_FILTER_LINEAR = 1, SG_FILTER_ANISOTROPIC = 2 };
enum { SG_SAMP_MAGFILTER = 0, SG_SAMP_MINFILTER = 1, SG_SAMP_MIPFILTER = 2, SG_SAMP_COUNT = 3 };

// The steps that fault injection can fail. The n-th call (1-based) of a step fails when its counter
// is n; 0 never fails. Each failure happens once.
enum {
    SG_STEP_CREATE_OBJECT,     // the device object
    SG_STEP_DISPLAY_MODE,      // the adapter's display mode
    SG_STEP_DEVICE_HARDWARE,   // device creation with each vertex processing
    SG_STEP_DEVICE_MIXED,
    SG_STEP_DEVICE_SOFTWARE,
    SG_STEP_BACK_BUFFER,
    SG_STEP_PLAIN_SURFACE,     // system-memory surfaces
    SG_STEP_TEXTURE,           // textures
    SG_STEP_VERTEX_DECL,
    SG_STEP_EFFECT,
    SG_STEP_TECHNIQUE,
    SG_STEP_SET_TECHNIQUE,
    SG_STEP_LOCK,
    SG_STEP_COUNT
};
struct SG_FAULTS {
    int anFailAt[SG_STEP_COUNT];
    int anCalls[SG_STEP_COUNT];   // calls of each step so far
    int nPixelShaderVersion;      // reported version (30 = 3.0); 0 means the default 30
    int bDeviceLost;              // TestCooperativeLevel answers "not reset" while set
};
extern SG_FAULTS g_SgFaults;
void SgResetFaults(void);

// Live objects of every kind (object, device, surfaces, effects): 0 when nothing leaks.
int SgLiveObjects(void);

struct SG_OBJECT;
struct SG_DEVICE;
struct SG_EFFECT;
struct SG_SURFACE {
    int nWidth, nHeight;
    int nFormat;
    int bRenderTarget;
    int bSystemMemory;
    uint32_t* pPixels;      // nWidth x nHeight, 0xAARRGGBB (B,G,R,A bytes)
    int bLocked;
};
typedef SG_SURFACE SG_TEXTURE;  // a texture of one level is its surface

struct SG_CAPS {
    int nPixelShaderVersion;  // 30, 20, 14, ...
    int nMaxTextureWidth, nMaxTextureHeight;
    int64_t llTextureMemory;
};

// A transformed vertex: x, y, z, rhw, diffuse 0xAARRGGBB, eight texture pairs (84 bytes).
struct SG_VERTEX {
    float x, y, z, rhw;
    uint32_t dwDiffuse;
    float uv[8][2];
};
static_assert(sizeof(SG_VERTEX) == 84, "the quad vertex is 84 bytes");

// Row-vector matrix: a point (x, y, z, 1) is multiplied from the left.
struct SG_MATRIX {
    float m[4][4];
};

// The developer switch KOLVEX_SOFT_GPU=1: drawing through the device is on without the E-mote
// component.
int SgForcedOn(void);

SG_OBJECT* SgCreateObject(void);
void SgReleaseObject(SG_OBJECT* pObj);
// The adapter's display mode (the soft device reports 1920 x 1080). SG_OK or SG_ERR_FAIL.
int SgGetAdapterDisplayMode(SG_OBJECT* pObj, int nAdapter, int* pWidth, int* pHeight);
SG_DEVICE* SgCreateDevice(SG_OBJECT* pObj, int nVertexProcessing, int nBackWidth, int nBackHeight);
void SgReleaseDevice(SG_DEVICE* pDev);
void SgGetCaps(SG_DEVICE* pDev, SG_CAPS* pCaps);
int SgTestCooperativeLevel(SG_DEVICE* pDev);

// The back buffer (owned by the device; the caller's reference is released with SgReleaseSurface).
SG_SURFACE* SgGetBackBuffer(SG_DEVICE* pDev);
SG_SURFACE* SgCreatePlainSurface(SG_DEVICE* pDev, int nWidth, int nHeight, int nFormat);
SG_TEXTURE* SgCreateTexture(SG_DEVICE* pDev, int nWidth, int nHeight, int nFormat, int bRenderTarget);
void SgReleaseSurface(SG_SURFACE* pSurf);
// Pixels of a locked surface; pitch in bytes. SG_OK or SG_ERR_FAIL (already locked, injected).
int SgLockRect(SG_SURFACE* pSurf, uint8_t** ppBits, int* pPitch);
int SgUnlockRect(SG_SURFACE* pSurf);
// Copies a system-memory surface into a texture of the same size (16-bit textures quantise).
int SgUpdateSurface(SG_SURFACE* pSrc, SG_SURFACE* pDst);
// The same copy as a format conversion with a box filter at equal sizes: into a 16-bit texture each
// channel is quantised to its four bits, with bDither by error diffusion (Floyd-Steinberg: every
// pixel's rounding error is carried to its right and lower neighbours), so that areas keep their
// average colour; without it the top four bits are kept, as SgUpdateSurface does.
int SgLoadSurfaceFromSurface(SG_SURFACE* pDst, SG_SURFACE* pSrc, int bDither);
// Copies a render target into a system-memory surface of at least its size.
int SgGetRenderTargetData(SG_SURFACE* pTarget, SG_SURFACE* pSysMem);
// Every pixel of the surface becomes the colour (16-bit textures quantise).
void SgFillSurface(SG_SURFACE* pSurf, uint32_t dwColor);

int SgSetRenderTarget(SG_DEVICE* pDev, SG_SURFACE* pTarget);
int SgClear(SG_DEVICE* pDev, uint32_t dwColor);
// The fixed-function transforms: the device keeps them for an outside drawer (an E-mote player)
// that draws with them; its own quads are already in screen space. 16 floats, row after row.
enum { SG_TS_WORLD = 0, SG_TS_VIEW = 1, SG_TS_PROJECTION = 2, SG_TS_COUNT = 3 };
int SgSetTransform(SG_DEVICE* pDev, int nState, const float* pMatrix);
int SgGetTransform(SG_DEVICE* pDev, int nState, float* pMatrix);
void SgSetBlendState(SG_DEVICE* pDev, int nSrc, int nDst, int nOp);
// The fixed-function colour put out for a blend mode (the per-mode table); other modes keep the
// one set before.
void SgSetColorMode(SG_DEVICE* pDev, int nMode);
// Sampler states of samplers 0 and 1. A triangle whose texture is drawn smaller than its texels
// (more than one texel per pixel along either screen axis, past a level of detail of 1/256) is
// sampled with the minification filter, else with the magnification filter; anisotropic filtering
// samples as linear. Textures have one level, so the mip filter is kept but selects nothing.
void SgSetSamplerState(SG_DEVICE* pDev, int nSampler, int nState, int nValue);
int SgGetSamplerState(const SG_DEVICE* pDev, int nSampler, int nState);
// Magnification and minification filter together.
void SgSetSamplerFilter(SG_DEVICE* pDev, int nSampler, int nFilter);
void SgSetTexture(SG_DEVICE* pDev, int nStage, SG_TEXTURE* pTex);
// Two triangles of a strip (0, 1, 2) and (2, 1, 3). SG_OK, or SG_ERR_FAIL without a target.
int SgDrawQuad(SG_DEVICE* pDev, const SG_VERTEX* pVertices);
int SgBeginScene(SG_DEVICE* pDev);
int SgEndScene(SG_DEVICE* pDev);

// The effect with its technique "KX_ShaderTest1": pass 0 cross-fades "KX_Texture1" with
// "KX_Texture2" by "KX_FadeVal"; pass 1 masks "KX_Texture1" by the red of "KX_Texture2" with
// "KX_FadeVal" and "KX_FadeVal2"; both multiply alpha by "KX_AlphaVal".
SG_EFFECT* SgCreateEffect(SG_DEVICE* pDev);
void SgReleaseEffect(SG_EFFECT* pEff);
// 1 when the technique exists; SgSetTechnique SG_OK / SG_ERR_FAIL.
int SgFindTechnique(SG_EFFECT* pEff, const char* pszName);
int SgSetTechnique(SG_EFFECT* pEff, const char* pszName);
// SG_OK, or SG_ERR_FAIL for a name the effect does not have.
int SgEffectSetTexture(SG_EFFECT* pEff, const char* pszName, SG_TEXTURE* pTex);
int SgEffectSetFloat(SG_EFFECT* pEff, const char* pszName, float f);
int SgEffectBegin(SG_EFFECT* pEff);
int SgEffectBeginPass(SG_EFFECT* pEff, int nPass);
int SgEffectEndPass(SG_EFFECT* pEff);
int SgEffectEnd(SG_EFFECT* pEff);
// A vertex declaration is only a check that the device can make one.
int SgCreateVertexDeclaration(SG_DEVICE* pDev);

void SgMatrixIdentity(SG_MATRIX* pOut);
void SgMatrixTranslation(SG_MATRIX* pOut, float x, float y, float z);
void SgMatrixMultiply(SG_MATRIX* pOut, const SG_MATRIX* pA, const SG_MATRIX* pB);
// Roll about Z, then pitch about X, then yaw about Y (left-handed, radians).
void SgMatrixRotationYawPitchRoll(SG_MATRIX* pOut, float fYaw, float fPitch, float fRoll);
void SgMatrixRotationZ(SG_MATRIX* pOut, float fAngle);
// (x, y, z, 1) times the matrix, divided by w.
void SgTransformCoord(float* pX, float* pY, float* pZ, const SG_MATRIX* pM);
