// Text block and line segmentation of a 1-bit page area.
#ifndef IMGFORGE_CABUNSYOKIRIDASI_H
#define IMGFORGE_CABUNSYOKIRIDASI_H

#include <array>
#include <cstdint>
#include <vector>

#include "layout_internal.h"

// One label or character group while segmenting.
struct tagSEGRECT {
  int32_t left, top, right, bottom;
  int32_t live;
  int32_t group;
  int32_t label;
  int32_t cls;
  int32_t key;  // block key; 3000 and up: cut-tree nodes; -1 removed
  int32_t black;
  int32_t size;
  int32_t members;
  std::vector<uint16_t> colProj;  // per column of the box
  std::vector<uint16_t> rowProj;  // per row of the box
  double ratio;
};

// Group classes.
enum : int32_t {
  SEG_TALL = 256,
  SEG_CHAR = 64,
  SEG_HRULE = 8,
  SEG_VRULE = 16,
  SEG_WIDE = 36,
  SEG_LOW = 128,
  SEG_LARGE = 512,
};

class CABunsyoKiridasi {
 public:
  static constexpr int kParaWords = 77;
  static constexpr int kMaxLines = 120;
  static constexpr int kMaxTables = 100;

  CABunsyoKiridasi() = default;
  virtual ~CABunsyoKiridasi() { Free(); }
  CABunsyoKiridasi(CABunsyoKiridasi const&) = delete;
  CABunsyoKiridasi& operator=(CABunsyoKiridasi const&) = delete;

  static int set_para(const char* path);
  // Working parameters := defaults scaled to m_dpi; false when the
  // resolution scales a length to 0.
  bool adjust_para();
  int hyou_ka_douka(CABitmap const& bmp, ARECT2 const& block, ARECT2& inner, uint16_t* proj, int n) const;

  // 0, or negative. Results stay in the object until Free.
  int Run(CABitmap const& bmp, ARECT2 const& area, LBL_DATA const* labels, int direction, int mode);
  void Free();

  static std::array<int32_t, kParaWords> m_katuji_c_org;
  static char m_para_path[256];

  int32_t m_para[kParaWords] = {};
  int m_dpi = 0;
  bool m_vertical = false;
  int m_direction = 1;
  int m_width = 0;  // image width, for the turned frame
  int m_charSize = 0;
  int KAZU[6] = {};  // large and tall, character, h rule, v rule, wide, low

  std::vector<SEG_BLOCK> m_blocks;
  std::vector<std::vector<SEG_LINE>> m_lines;
  std::vector<SEG_TABLE> m_tables;

 private:
  struct Node;
  int Labels(CABitmap const& bmp, ARECT2 const& area, LBL_DATA const& labels, std::vector<tagSEGRECT>& out) const;
  void Group(std::vector<tagSEGRECT>& recs) const;
  int EstimateSize(std::vector<tagSEGRECT> const& recs) const;
  void Classify(std::vector<tagSEGRECT>& recs);
  void Tables(CABitmap const& bmp, std::vector<tagSEGRECT>& recs);
  void Characters(CABitmap const& bmp, std::vector<tagSEGRECT>& recs, std::vector<tagSEGRECT>& chars) const;
  void Cut(std::vector<tagSEGRECT>& chars, std::vector<ARECT2>& leaves) const;
  void CutNode(std::vector<tagSEGRECT>& chars, std::vector<int> idx, ARECT2 box, bool yAxis, int depth, bool retry,
               std::vector<ARECT2>& leaves) const;
  void Lines(CABitmap const& bmp, std::vector<tagSEGRECT> const& chars, ARECT2 const& block,
             std::vector<SEG_LINE>& lines) const;
  void ReadingOrder();
};

#endif
