// The align group: enumerations, Index, Aligner and the mapping results.
// Members are added here, in their fixed order, as they are built.
#include "frame.h"

namespace tessiqpy {

void register_align(nb::module_& m) {
    Group group(m, /*report_failures=*/true);
    (void)group;
}

}  // namespace tessiqpy
