// Shared by the fasta group's units: the Python Record and the conversions
// of core records and (name, sequence) pairs into Python objects.
#pragma once

#include <vector>

#include "fasta/reader.h"
#include "frame.h"

namespace tessiqpy {

// Holds ready-made Python objects, so reading a property costs nothing.
struct PyRecord : Guarded {
    PyRecord(nb::str n, nb::object d, nb::bytes s, nb::object q)
        : name(std::move(n)), description(std::move(d)), sequence(std::move(s)),
          quality(std::move(q)) {}
    nb::str name;
    nb::object description;  // str or None
    nb::bytes sequence;
    nb::object quality;  // bytes or None
};

// A new Record object from a record read in place.
nb::object record_to_python(const tessiq::RecordView& rec);
// (str, bytes) tuples.
nb::object pair_to_python(std::string_view name, std::string_view sequence);
inline nb::object pair_to_python(const tessiq::NamedSequence& pair) {
    return pair_to_python(pair.first, pair.second);
}
nb::list pairs_to_python(const std::vector<tessiq::NamedSequence>& pairs);

// Binding units of the group, in the order their members are added.
void add_record(Group& group);
void add_reader(Group& group);
void add_streamers(Group& group);
void add_fasta_functions(Group& group);

}  // namespace tessiqpy
