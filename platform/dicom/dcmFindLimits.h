// The bound on what one search may hold (internal).
//
// A search is a round: the patient search and the series queries of the studies it finds. Every
// match of a round is posted to the program, which lists it; a peer that keeps answering would
// otherwise grow the list without end. A query is given up (C-CANCEL, then the association
// aborted) once it has answered kMaxQueryMatches matches; the series of the studies listed are
// still asked for, until the round has kMaxRoundMatches in all: then the query running is given
// up the same way and the round's series queries, waiting or still to come, are dropped. One
// message (code 6, "find cut: ...") tells the program that the answer was cut.
#pragma once

#include <cstddef>

namespace redIRI {
namespace detail {

// Far above any worklist or study a person reads through (a patient's studies, the series of one
// study), far below what costs memory: a listed match takes under a kilobyte.
constexpr size_t kMaxQueryMatches = 5000;
constexpr size_t kMaxRoundMatches = 4 * kMaxQueryMatches;

// Tests: lowers both bounds for searches begun from now on (the round's to four times the
// query's); no argument puts them back.
void setFindMatchLimit(size_t perQuery = kMaxQueryMatches);
// The bound on one query's matches now (kMaxQueryMatches unless a test lowered it). The image-level
// query a retrieval makes before it begins is held to it too.
size_t findMatchLimit();

// Tests: called on the find thread once an answer is built and before it is posted (null: none).
void setBeforeFindAnswerForTest(void (*hook)());

}  // namespace detail
}  // namespace redIRI
