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

#endif
