// The fasta group: Record, FastxReader, the streamers and the FASTA functions.
// Members are added here, in their fixed order, as they are built.
#include "fasta/record.h"
#include "frame.h"

namespace tessiqpy {

void register_fasta(nb::module_& m) {
    Group group(m, /*report_failures=*/false);
    add_record(group);
    add_reader(group);
    add_streamers(group);
    add_fasta_functions(group);
}

}  // namespace tessiqpy
