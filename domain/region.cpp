#include "domain/region.h"

int DOM_init(DomainRecord *domain) {
  const float missing = DOM_MISSING;
  *domain = {DOM_MISSING, missing, missing, missing, missing,     missing,     missing, missing,
             missing,     missing, missing, missing, DOM_MISSING, DOM_MISSING, 0};
  return 0;
}
