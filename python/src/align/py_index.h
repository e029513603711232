// The Python Index object, shared with the classes that take an index.
#pragma once

#include "align/index.h"
#include "frame.h"

namespace tessiqpy {

struct PyIndex : Guarded {
    explicit PyIndex(tessiq::Index&& i) : core(std::move(i)) {}
    tessiq::Index core;
};

}  // namespace tessiqpy
