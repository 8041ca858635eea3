// The glyph dictionary of the upside-down test: the full-width digits, lower
// case and upper case letters, in that order (see make_ninsiki_dic.cpp).
#include "ktj_internal.h"

const NINSIKI_DIC ktj::ninsiki_dic[62] = {
#include "ninsiki_dic_data.inc"
};
