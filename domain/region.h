// Plot domains: the record that says which part of the earth (or of a
// chart) a picture shows, and the texts that describe one.
#pragma once

#include <cstdint>

constexpr int DOM_MISSING = -9999;

// Fifteen 32-bit words, in the order the suite's files and records use.
struct DomainRecord {
  int32_t proj;              // projection code
  float plat;                // pole or reference latitude
  float plon;                // central longitude
  float p1, p2, p3, p4, p5;  // projection parameters
  float clat, clon;          // centre (or chart origin)
  float dx, dy;              // grid spacing, 100 km units for map projections
  int32_t nx, ny;            // grid points
  int32_t ellipsoid;         // 1 when the projection text carried the "e" marker
};

// Every field missing, ellipsoid 0. Returns 0.
int DOM_init(DomainRecord *domain);
