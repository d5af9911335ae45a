// The graphics kernel: one include for every kernel area.
#pragma once

#include "gks/gks_x11.h"
#include "gks/gks_loop.h"
#include "gks/gks_colr.h"
#include "gks/colors.h"
#include "gks/gks_tran.h"
#include "gks/gks_tool.h"
#include "gks/gks_evnt.h"

// Areas that are built separately; a build without them still compiles.
#if __has_include("gks/gks_zoom.h")
#include "gks/gks_zoom.h"
#endif
#if __has_include("gks/gks_img.h")
#include "gks/gks_img.h"
#endif
#if __has_include("gks/gks_line.h")
#include "gks/gks_line.h"
#endif
#if __has_include("gks/gks_fill.h")
#include "gks/gks_fill.h"
#endif
#if __has_include("gks/gks_mark.h")
#include "gks/gks_mark.h"
#endif
#if __has_include("gks/gks_text.h")
#include "gks/gks_text.h"
#endif
#if __has_include("gks/gks_obj.h")
#include "gks/gks_obj.h"
#endif
#if __has_include("gks/gks_meta.h")
#include "gks/gks_meta.h"
#endif
#if __has_include("gks/gks_ps.h")
#include "gks/gks_ps.h"
#endif
#if __has_include("gks/gks_hpgl.h")
#include "gks/gks_hpgl.h"
#endif
