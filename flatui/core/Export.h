#pragma once
// Symbols of libtavolex.so that hosts link against.
#define TAVOLEX_EXPORT __attribute__((visibility("default")))
