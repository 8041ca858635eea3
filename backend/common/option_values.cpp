#include "option_values.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "log.h"

SANE_Status SetOption(SANE_Option_Descriptor* desc, const char* name, const char* title, const char* description,
                      SANE_Value_Type type, SANE_Unit unit, SANE_Int size, SANE_Int cap,
                      SANE_Constraint_Type constraintType, const void* constraint) {
  if (!desc || constraintType > SANE_CONSTRAINT_STRING_LIST) {
    WriteLog(LOG_LEVEL_ERROR, "SetOption", "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  desc->name = name;
  desc->title = title;
  desc->desc = description;
  desc->type = type;
  desc->unit = unit;
  desc->size = size;
  desc->cap = cap;
  desc->constraint_type = constraintType;
  desc->constraint.range = nullptr;
  switch (constraintType) {
    case SANE_CONSTRAINT_RANGE:
      desc->constraint.range = static_cast<const SANE_Range*>(constraint);
      break;
    case SANE_CONSTRAINT_WORD_LIST:
      desc->constraint.word_list = static_cast<const SANE_Word*>(constraint);
      break;
    case SANE_CONSTRAINT_STRING_LIST:
      desc->constraint.string_list = static_cast<const SANE_String_Const*>(constraint);
      break;
    default:
      break;
  }
  return SANE_STATUS_GOOD;
}

SANE_Int GetMaxLength(const SANE_String_Const* list) {
  if (!list) return 0;
  size_t longest = 0;
  for (; *list; ++list) longest = std::max(longest, strlen(*list));
  return static_cast<SANE_Int>(longest + 2);
}

SANE_Status IsHasFlatbed(const SANE_String_Const* list, int* hasFlatbed) {
  if (!list || !hasFlatbed) {
    WriteLog(LOG_LEVEL_ERROR, "IsHasFlatbed", "pOptValueList == NULL || pbHasFlatbed == NULL");
    return SANE_STATUS_INVAL;
  }
  *hasFlatbed = 0;
  for (; *list; ++list)
    if (strcmp(*list, "Flatbed") == 0) *hasFlatbed = 1;
  return SANE_STATUS_GOOD;
}

const char* GetOptValue(int code, const OPTION_VALUE* map, int count) {
  if (!map) return nullptr;
  for (int i = 0; i < count; ++i)
    if (map[i].iCode == code) return map[i].cpValue;
  return nullptr;
}

SANE_Status SetOptValue(const char* text, const OPTION_VALUE* map, int count, int* code) {
  if (!text || !map || !code) {
    WriteLog(LOG_LEVEL_ERROR, "SetOptValue", "cpTarget == NULL || pOptValue == NULL || ipSetID == NULL");
    return SANE_STATUS_INVAL;
  }
  for (int i = 0; i < count; ++i) {
    if (strcasecmp(map[i].cpValue, text) == 0) {
      *code = map[i].iCode;
      return SANE_STATUS_GOOD;
    }
  }
  return SANE_STATUS_INVAL;
}
