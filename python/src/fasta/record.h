// Shared by the fasta group's units: the Python Record and the conversions
// of core records and (name, sequence) pairs into Python objects.
#pragma once

#include <vector>

#include "fasta/reader.h"
#include "frame.h"

namespace tessiqpy {

// A new Record object from a record read in place. The record's bytes are
// copied into the object; its fields become Python objects when first read.
nb::object record_to_python(const tessiq::RecordView& rec);
// The same as a new reference, or null with the exception set.
PyObject* new_record(const tessiq::RecordView& rec) noexcept;
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
