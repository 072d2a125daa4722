// Stand-ins for the display's parts that are not built yet (see display/standins.h).
#include "display/standins.h"

int InitDirect3D(void) { return 0; }
void ReleaseDirect3D(void) {}
void ResetDirect3D(void) {}
void ReleaseLayerTextures(LAYER*) {}
int UploadLayerTextures(LAYER*, int, int, int) { return 0; }
int RenderGpuFrame(void) { return 0; }
int PasteLayerTexturesGpu(TREE_NODE*, TREE_NODE*) { return 0; }
int CaptureLayerGpu(TREE_NODE*, TREE_NODE*) { return 0; }
