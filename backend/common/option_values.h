// Building blocks of a SANE option table, shared by both backends' tables:
// code/text maps of list options and descriptor filling.
#ifndef DRAVN_COMMON_OPTION_VALUES_H
#define DRAVN_COMMON_OPTION_VALUES_H

#include <sane/sane.h>

// One entry of a list option's map: the code kept in the value table and
// the text a front end sees.
struct OPTION_VALUE {
  int iCode;
  const char* cpValue;
};

// Fills a descriptor; the constraint is kept only for constraint types 1-3.
// 0, or SANE_STATUS_INVAL for a null descriptor or a constraint type above 3.
SANE_Status SetOption(SANE_Option_Descriptor* desc, const char* name, const char* title, const char* description,
                      SANE_Value_Type type, SANE_Unit unit, SANE_Int size, SANE_Int cap,
                      SANE_Constraint_Type constraintType, const void* constraint);

// Length of the longest text of a NULL-terminated list plus 2; 0 for null.
SANE_Int GetMaxLength(const SANE_String_Const* list);

// *hasFlatbed = whether the list holds "Flatbed".
SANE_Status IsHasFlatbed(const SANE_String_Const* list, int* hasFlatbed);

// The text of the first entry with the code, or null.
const char* GetOptValue(int code, const OPTION_VALUE* map, int count);
// The code of the first entry whose text equals the text ignoring case.
SANE_Status SetOptValue(const char* text, const OPTION_VALUE* map, int count, int* code);

// Option indices that both backends' tables share: the source, the scan
// area in table order, the paper size and page-auto.
constexpr int SHARED_OPTION_SOURCE = 2;
constexpr int SHARED_OPTION_TL_X = 6;
constexpr int SHARED_OPTION_TL_Y = 7;
constexpr int SHARED_OPTION_BR_X = 8;
constexpr int SHARED_OPTION_BR_Y = 9;
constexpr int SHARED_OPTION_PAGE_WIDTH = 10;
constexpr int SHARED_OPTION_PAGE_HEIGHT = 11;
constexpr int SHARED_OPTION_PAPER_SIZE = 12;
constexpr int SHARED_OPTION_PAGE_AUTO = 13;

// 0-5 for top-left x and y, bottom-right x and y, page width and height;
// any other option counts as the page height.
int AreaIndex(int option);

// Checks a value against its descriptor's constraint: a range or word list
// moves it to the nearest allowed value (SANE_INFO_INEXACT), a string must
// end within the option's size and be in the list. On the feeder with a
// fixed paper size and no page-auto, the area options take the paper's
// corners and size whatever is asked. `option` is the descriptor's index in
// the table whose values are `selected`, -1 outside it.
SANE_Status CheckOptionValue(const SANE_Option_Descriptor* desc, void* value, SANE_Int* info, int option,
                             const SANE_Word* selected);

#endif
