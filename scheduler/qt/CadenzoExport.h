#pragma once
// Marks what libcadenzo.so exports; everything else in the library stays hidden.

#define CADENZO_EXPORT __attribute__((visibility("default")))
