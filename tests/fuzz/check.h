// The fuzz targets' one way to fail: name the broken property and abort, which keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();  // libFuzzer keeps the input
}
