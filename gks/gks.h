// The graphics kernel: one include for every kernel area.
#pragma once

#include "gks/colors.h"
#include "gks/gks_colr.h"
#include "gks/gks_evnt.h"
#include "gks/gks_loop.h"
#include "gks/gks_tool.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"

#include "gks/gks_driver.h"
#include "gks/gks_fill.h"
#include "gks/gks_font.h"
#include "gks/gks_img.h"
#include "gks/gks_latlon.h"
#include "gks/gks_line.h"
#include "gks/gks_mark.h"
#include "gks/gks_obj.h"
#include "gks/gks_text.h"
#include "gks/gks_zoom.h"
