// The crop engines and judges that the dispatcher calls. Each is bound by a
// weak reference: until its engine is built into the library the reference
// is null and its type answers "not supported". An engine joins by defining
// its entry; its line below already calls it.
#include <cstdlib>
#include <initializer_list>

#include "fsipctl_internal.h"

extern "C" {
// The engines' entries, with the arguments the dispatcher passes.
int FsipCrp_CropAll(FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_CRPALL*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*, void*,
                    int*) __attribute__((weak));
int FsipCrp_PunchHoleRemove(FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_PHRMV*, void*, void*, void*, int*) __attribute__((weak));
int FsipCrp_SpecifiedAreaCrop(FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_SPECIFIEDAREA_CRP*, FSIP_S_IMAGEINFO_EX*, void*, void*)
    __attribute__((weak));
int FsipCrp_DupCropAll(FSIP_S_IMAGEINFO_EX*, _FSIP_CRP_S_DUPCRPALL*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*,
                       void*, int*) __attribute__((weak));
int FsipCrp_DupPunchHoleRemove(FSIP_S_IMAGEINFO_EX*, _FSIP_CRP_S_DUPPHRMV*, void*, void*) __attribute__((weak));
int FsipCrp_AIQC(FSIP_S_IMAGEINFO_EX*, void*, void*, void*) __attribute__((weak));
int FsipCrp_CropAll2(FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_CRPALL2*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*, void*,
                     int*) __attribute__((weak));
int FsipCrp_DupCropAll2(FSIP_S_IMAGEINFO_EX*, _FSIP_CRP_S_DUPCRPALL2*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*,
                        void*, int*, void*) __attribute__((weak));
int FsipCrpWB_CropAll(FSIP_S_IMAGEINFO_EX*, FSIP_CRPWB_S_CRPALL*, FSIP_S_IMAGEINFO_EX*, FSIP_CRP_S_DUAL_LAYOUT*, void*,
                      void*) __attribute__((weak));
int FsipCrpWB_SpecifiedAreaCrop(FSIP_S_IMAGEINFO_EX*, FSIP_CRPWB_S_SPECIFIEDAREA_CRP*, FSIP_S_IMAGEINFO_EX*, void*,
                                void*) __attribute__((weak));
}

// The judges of Parts of their own, internal to the library.
int JugBlankPage(FSIP_S_IMAGEINFO_EX* input, FSIP_BPD_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX* output,
                 FSIP_BPD_S_OUTPARAM* outParam) __attribute__((weak, visibility("hidden")));
int GetDocBestDepth(FSIP_S_IMAGEINFO_EX* input, FSIP_DCM_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX* output,
                    FSIP_DCM_S_OUTPARAM* outParam) __attribute__((weak, visibility("hidden")));

// The engines' sine/cosine tables (entries of two doubles, calloc'ed on
// first use). An engine that defines its own pointer replaces these.
struct _SINCOS;
__attribute__((weak, visibility("hidden"))) _SINCOS* gpSinCos = nullptr;
__attribute__((weak, visibility("hidden"))) _SINCOS* gpSinCos_1 = nullptr;

// The main crop engine's depth-log sink and its own sine/cosine table, when
// that engine is in the library.
namespace fsipcrop {
void SetDepthLogSink(void (*sink)(const char*)) __attribute__((weak, visibility("hidden")));
void Uninitialize() __attribute__((weak, visibility("hidden")));
}  // namespace fsipcrop
// The white-background engine's table.
namespace p2iwb {
void Uninitialize() __attribute__((weak, visibility("hidden")));
}  // namespace p2iwb

void OutputDebugString(const char* text);

namespace fsipctl {

void ConnectEngines() {
  if (fsipcrop::SetDepthLogSink) fsipcrop::SetDepthLogSink(::OutputDebugString);
}

namespace {

template <typename F>
const void* Sym(F* entry) {
  return reinterpret_cast<const void*>(entry);
}

template <typename T>
T* As(void* p) {
  return static_cast<T*>(p);
}

}  // namespace

// clang-format off
const CropEngine kCropEngines[11] = {  // one line per engine, by type
  {nullptr, 0, 0, nullptr, nullptr},
  {"FsipCrp_CropAll", 341, 347, Sym(FsipCrp_CropAll), [](const CropCall& c) { return FsipCrp_CropAll(c.inputs, As<FSIP_CRP_S_CRPALL>(c.inParam), c.outputs, As<FSIP_CRP_S_DUAL_LAYOUT>(c.outParam), c.userParam, nullptr); }},
  {"FsipCrp_PunchHoleRemove", 367, 373, Sym(FsipCrp_PunchHoleRemove), [](const CropCall& c) { return FsipCrp_PunchHoleRemove(c.inputs, As<FSIP_CRP_S_PHRMV>(c.inParam), nullptr, nullptr, c.userParam, nullptr); }},
  {"FsipCrp_SpecifiedAreaCrop", 394, 400, Sym(FsipCrp_SpecifiedAreaCrop), [](const CropCall& c) { return FsipCrp_SpecifiedAreaCrop(c.inputs, As<FSIP_CRP_S_SPECIFIEDAREA_CRP>(c.inParam), c.outputs, nullptr, c.userParam); }},
  {"FsipCrp_DupCropAll", 422, 428, Sym(FsipCrp_DupCropAll), [](const CropCall& c) { return FsipCrp_DupCropAll(c.inputs, As<_FSIP_CRP_S_DUPCRPALL>(c.inParam), c.outputs, As<FSIP_CRP_S_DUAL_LAYOUT>(c.outParam), c.userParam, nullptr); }},
  {"FsipCrp_DupPunchHoleRemove", 448, 454, Sym(FsipCrp_DupPunchHoleRemove), [](const CropCall& c) { return FsipCrp_DupPunchHoleRemove(c.inputs, As<_FSIP_CRP_S_DUPPHRMV>(c.inParam), nullptr, nullptr); }},
  {"FsipCrp_AIQC", 475, 481, Sym(FsipCrp_AIQC), [](const CropCall& c) { return FsipCrp_AIQC(c.inputs, c.inParam, nullptr, nullptr); }},
  {"FsipCrp_CropAll2", 495, 506, Sym(FsipCrp_CropAll2), [](const CropCall& c) { return FsipCrp_CropAll2(c.inputs, As<FSIP_CRP_S_CRPALL2>(c.inParam), c.outputs, As<FSIP_CRP_S_DUAL_LAYOUT>(c.outParam), c.userParam, nullptr); }},
  {"FsipCrp_DupCropAll2", 526, 532, Sym(FsipCrp_DupCropAll2), [](const CropCall& c) { return FsipCrp_DupCropAll2(c.inputs, As<_FSIP_CRP_S_DUPCRPALL2>(c.inParam), c.outputs, As<FSIP_CRP_S_DUAL_LAYOUT>(c.outParam), c.userParam, nullptr, nullptr); }},
  {"FsipCrpWB_CropAll", 547, 558, Sym(FsipCrpWB_CropAll), [](const CropCall& c) { return FsipCrpWB_CropAll(c.inputs, As<FSIP_CRPWB_S_CRPALL>(c.inParam), c.outputs, As<FSIP_CRP_S_DUAL_LAYOUT>(c.outParam), c.userParam, nullptr); }},
  {"FsipCrpWB_SpecifiedAreaCrop", 579, 585, Sym(FsipCrpWB_SpecifiedAreaCrop), [](const CropCall& c) { return FsipCrpWB_SpecifiedAreaCrop(c.inputs, As<FSIP_CRPWB_S_SPECIFIEDAREA_CRP>(c.inParam), c.outputs, nullptr, c.userParam); }},
};
// clang-format on

int RunJugBlankPage(FSIP_S_IMAGEINFO_EX* input, FSIP_BPD_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX* output,
                    FSIP_BPD_S_OUTPARAM* outParam) {
  return JugBlankPage ? JugBlankPage(input, inParam, output, outParam) : FSIP_C_ERR_NOTSUPPORT;
}

int RunGetDocBestDepth(FSIP_S_IMAGEINFO_EX* input, FSIP_DCM_S_INPARAM* inParam, FSIP_S_IMAGEINFO_EX* output,
                       FSIP_DCM_S_OUTPARAM* outParam) {
  return GetDocBestDepth ? GetDocBestDepth(input, inParam, output, outParam) : FSIP_C_ERR_NOTSUPPORT;
}

void FreeSinCosTables() {
  for (_SINCOS** table : {&gpSinCos, &gpSinCos_1}) {
    free(*table);
    *table = nullptr;
  }
  if (fsipcrop::Uninitialize) fsipcrop::Uninitialize();
  if (p2iwb::Uninitialize) p2iwb::Uninitialize();
}

}  // namespace fsipctl
