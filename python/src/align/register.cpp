// The align group: enumerations, Index, Aligner and the mapping results.
// Members are added here, in their fixed order, as they are built.
#include "frame.h"

namespace tessiqpy {

// Defined in align/index.cpp.
void add_index_class(Group& group);

void register_align(nb::module_& m) {
    Group group(m, /*report_failures=*/true);
    // Preset, Strand, CigarOp and CigarElement go before Index.
    add_index_class(group);
    // Aligner, Mapping and MappingIterator follow Index.
}

}  // namespace tessiqpy
