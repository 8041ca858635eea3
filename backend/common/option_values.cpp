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

int AreaIndex(int option) {
  if (option >= SHARED_OPTION_TL_X && option <= SHARED_OPTION_PAGE_HEIGHT) return option - SHARED_OPTION_TL_X;
  return SHARED_OPTION_PAGE_HEIGHT - SHARED_OPTION_TL_X;
}

SANE_Status CheckOptionValue(const SANE_Option_Descriptor* desc, void* value, SANE_Int* info, int option,
                             const SANE_Word* selected) {
  if (!desc || !value) {
    WriteLog(LOG_LEVEL_ERROR, "CheckSetValue", "SANE_STATUS_INVAL");
    return SANE_STATUS_INVAL;
  }
  switch (desc->constraint_type) {
    case SANE_CONSTRAINT_RANGE: {
      SANE_Word* v = static_cast<SANE_Word*>(value);
      const SANE_Word before = *v;
      const bool followsPaper = selected[SHARED_OPTION_SOURCE] != 0 && selected[SHARED_OPTION_PAGE_AUTO] == 0 &&
                                selected[SHARED_OPTION_PAPER_SIZE] != 0;
      if (followsPaper && option >= SHARED_OPTION_TL_X && option <= SHARED_OPTION_PAGE_HEIGHT) {
        switch (option) {
          case SHARED_OPTION_TL_X:
          case SHARED_OPTION_TL_Y:
            *v = 0;
            break;
          case SHARED_OPTION_BR_X:
          case SHARED_OPTION_PAGE_WIDTH:
            *v = selected[SHARED_OPTION_PAGE_WIDTH];
            break;
          default:
            *v = selected[SHARED_OPTION_PAGE_HEIGHT];
            break;
        }
      } else if (desc->constraint.range) {
        if (*v < desc->constraint.range->min) *v = desc->constraint.range->min;
        if (*v > desc->constraint.range->max) *v = desc->constraint.range->max;
      }
      if (*v != before && info) *info |= SANE_INFO_INEXACT;
      return SANE_STATUS_GOOD;
    }
    case SANE_CONSTRAINT_WORD_LIST: {
      const SANE_Word* list = desc->constraint.word_list;
      SANE_Word* v = static_cast<SANE_Word*>(value);
      if (!list || list[0] <= 0) return SANE_STATUS_INVAL;
      SANE_Word best = list[1];
      for (int i = 2; i <= list[0]; ++i) {
        long long d = static_cast<long long>(list[i]) - *v, bd = static_cast<long long>(best) - *v;
        if ((d < 0 ? -d : d) < (bd < 0 ? -bd : bd)) best = list[i];
      }
      if (best != *v) {
        *v = best;
        if (info) *info |= SANE_INFO_INEXACT;
      }
      return SANE_STATUS_GOOD;
    }
    case SANE_CONSTRAINT_STRING_LIST: {
      const SANE_String_Const* list = desc->constraint.string_list;
      const char* text = static_cast<const char*>(value);
      // The text must end within the option's size: the caller's buffer is
      // read no further.
      const size_t len = strnlen(text, desc->size > 0 ? static_cast<size_t>(desc->size) : 0);
      if (!list || !list[0] || desc->size <= 0 || len >= static_cast<size_t>(desc->size)) return SANE_STATUS_INVAL;
      for (; *list; ++list)
        if (strlen(*list) == len && strncasecmp(*list, text, len) == 0) return SANE_STATUS_GOOD;
      return SANE_STATUS_INVAL;
    }
    default:
      if (desc->type == SANE_TYPE_BOOL) {
        SANE_Word v = *static_cast<SANE_Word*>(value);
        if (v != SANE_FALSE && v != SANE_TRUE) return SANE_STATUS_INVAL;
      }
      return SANE_STATUS_GOOD;
  }
}
