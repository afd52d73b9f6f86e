// The bounds of a retrieval (internal), for the tests that lower them.
//
// Before its C-GET a retrieval asks the peer, in an image-level C-FIND, which classes the series'
// images are of. That query is held to a search's bound on matches (dcmFindLimits.h) and to a bound
// on its whole time, kContentsQuerySeconds: a peer that answers at a crawl (each answer within the
// DIMSE timeout, one every 20 s) would otherwise keep the retrieval in its query, and every later
// retrieval waiting, for as long as it lists images. Past the bound the query is cancelled, its
// association aborted, and the usual image classes are proposed, as for a peer that does not say.
#pragma once

#include <functional>

namespace redIRI {
namespace detail {

// Far longer than any archive takes to list the images of a series (a few seconds for thousands).
constexpr int kContentsQuerySeconds = 60;

// Tests: the bound on the image-level query's time, in milliseconds, for retrievals begun from now
// on; no argument puts it back.
void setContentsQueryLimitForTest(int milliseconds = kContentsQuerySeconds * 1000);

// Tests: run before the start-up scan (keptRetrievals) reads each image of a folder that keeps no
// record of its retrieval; none when empty. Set while no scan runs.
void setScanReadHookForTest(std::function<void()> hook = {});
// Run before each entry of a folder is removed (a discard, or the scan's removal of a folder).
void setRemoveHookForTest(std::function<void()> hook = {});

}  // namespace detail
}  // namespace redIRI
