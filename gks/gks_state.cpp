#include "gks/gks_state.h"

GksState &gks_state() {
  static GksState state;
  return state;
}

Visual *gget_visual() { return gks_state().visual; }
