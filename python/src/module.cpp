// Module initialisation: the fatal-error class first, then the four member
// groups in their fixed order. A failing group stops the import.
#include "frame.h"

NB_MODULE(_tessiqpy, m) {
    using namespace tessiqpy;
    // Instances kept in module globals until interpreter exit are not leaks.
    nb::set_leak_warnings(false);
    m.doc() = "Sequence mapping and alignment: the compiled core of tessiqpy.";
    nb::object fatal = create_fatal_error_type();
    nb::setattr(m, "FatalError", fatal);
    install_exception_translator(fatal);

    register_align(m);
    register_sketch(m);
    register_fasta(m);
    register_options(m);
}
