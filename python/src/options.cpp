// The options group: the six parameter classes and MapOptions.
// Members are added here, in their fixed order, as they are built.
#include "frame.h"

namespace tessiqpy {

void register_options(nb::module_& m) {
    Group group(m, /*report_failures=*/false);
    (void)group;
}

}  // namespace tessiqpy
