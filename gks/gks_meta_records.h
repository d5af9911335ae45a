// The text metafile's attribute records, for the metafile writer and
// reader only: each setter's object code, its keyword and its fields. The
// writer finds a record by code, the reader by keyword, and the reader
// hands what it read to the object cache's replay of that code.
#pragma once

#include <cstring>

#include "gks/gks_obj.h"

enum class GmetaField {
  Int,        // "%d": the value (colour index, type, style)
  Float,      // "%f": the float the data points to
  FloatPair,  // "%f,%f": two floats of data (the up vector)
  IntPair,    // "%d %d": two ints of data (font and precision, alignment)
};

struct GmetaAttribute {
  int code;
  const char *keyword;
  GmetaField field;
};

inline constexpr GmetaAttribute kGmetaAttributes[] = {
    {GOBJ_LINE_COLR, "PL_CLR", GmetaField::Int},     {GOBJ_LINE_WIDTH, "PL_LW", GmetaField::Float},
    {GOBJ_LINE_TYPE, "PL_TYPE", GmetaField::Int},    {GOBJ_MARK_COLR, "PM_CLR", GmetaField::Int},
    {GOBJ_MARK_SIZE, "PM_SIZE", GmetaField::Float},  {GOBJ_MARK_WIDTH, "PM_WDTH", GmetaField::Float},
    {GOBJ_MARK_TYPE, "PM_TYPE", GmetaField::Int},    {GOBJ_FILL_COLR, "FA_CLR", GmetaField::Int},
    {GOBJ_FILL_STYLE, "FA_INT", GmetaField::Int},    {GOBJ_FILL_INDEX, "FA_ST", GmetaField::Int},
    {GOBJ_TEXT_COLR, "TE_CLR", GmetaField::Int},     {GOBJ_TEXT_HEIGHT, "TE_HGHT", GmetaField::Float},
    {GOBJ_TEXT_EXPAN, "TE_EXP", GmetaField::Float},  {GOBJ_TEXT_WIDTH, "TE_WDTH", GmetaField::Float},
    {GOBJ_TEXT_SPACE, "TE_SPC", GmetaField::Float},  {GOBJ_TEXT_CHAR_SPACE, "TE_CSPC", GmetaField::Float},
    {GOBJ_TEXT_UP, "TE_UP", GmetaField::FloatPair},  {GOBJ_TEXT_ALIGN, "TE_ALGN", GmetaField::IntPair},
    {GOBJ_TEXT_FONT, "TE_FNT", GmetaField::IntPair},
};

inline const GmetaAttribute *gmeta_attribute_of_code(int code) {
  for (const GmetaAttribute &a : kGmetaAttributes)
    if (a.code == code) return &a;
  return nullptr;
}

inline const GmetaAttribute *gmeta_attribute_of_keyword(const char *keyword) {
  for (const GmetaAttribute &a : kGmetaAttributes)
    if (std::strcmp(a.keyword, keyword) == 0) return &a;
  return nullptr;
}
