#pragma once
// A mutator that knows the shape of a timetable document. Byte flips almost never turn a departure
// time into one that lands on 9999 (the minute of day that marks a list without a train) while
// the clock stands within an hour of it; this mutator edits whole fields instead: times near 9999,
// near the clock and at the 16-bit limits, clocks near a train, settings at their edges, empty and
// full slots and lists, platforms, stops lists of 8 and 9 names, messages without texts.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace plasma::fuzz {

// Applies one to three structural edits to a document of at least 25 lines and returns it; an
// input with fewer lines is returned unchanged (the byte mutations deal with it).
std::string mutateDocument(const std::string& document, std::minstd_rand& random);

}  // namespace plasma::fuzz
