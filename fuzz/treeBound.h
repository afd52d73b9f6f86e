// The fuzz invariants of DCMTK's parse: whatever it accepted holds no item nested deeper than
// kMaxSequenceDepth sequences and no more items and elements than one parse may build, and its
// top-level elements are those the structural walk met (the walk did not part from DCMTK's
// reading). A parse that broke one passed the bound or the walk some way they do not see;
// abort() makes libFuzzer keep the input, at a depth of 129 or at the first element the two
// readings part on, rather than only when the stack ends thousands of levels down.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "dcmParseBound.h"
#include "dcmWalk.h"

namespace qvfuzz {

// Counts the items and elements below `roots` (a file's meta group and data set count together,
// as they are parsed under one bound), with an explicit stack, so a tree past the bound is still
// walked safely. DCMTK keeps items and elements in lists: each is walked with its own cursor
// (nextInContainer), never by index, which walks from the head every time.
inline void checkTree(std::initializer_list<DcmItem*> roots) {
  uint64_t nodes = 0;
  std::vector<std::pair<DcmItem*, int>> open;  // an item and the sequences enclosing it
  for (DcmItem* root : roots)
    if (root) open.push_back({root, 0});
  while (!open.empty()) {
    const auto [item, depth] = open.back();
    open.pop_back();
    if (depth > redIRI::detail::kMaxSequenceDepth) {
      std::fprintf(stderr, "an item nested %d sequences deep was accepted\n", depth);
      std::abort();
    }
    for (DcmObject* element = item->nextInContainer(nullptr); element; element = item->nextInContainer(element)) {
      ++nodes;
      if (element->ident() != EVR_SQ && element->ident() != EVR_pixelSQ) continue;
      auto* sequence = static_cast<DcmSequenceOfItems*>(element);
      for (DcmObject* inner = sequence->nextInContainer(nullptr); inner; inner = sequence->nextInContainer(inner)) {
        ++nodes;
        // Fragments hold bytes, not elements.
        if (element->ident() == EVR_SQ) open.push_back({static_cast<DcmItem*>(inner), depth + 1});
      }
    }
  }
  if (nodes > redIRI::detail::kMaxParseNodes) {
    std::fprintf(stderr, "%llu items and elements were accepted\n", static_cast<unsigned long long>(nodes));
    std::abort();
  }
}

// Records the top-level tags of the data sets walked on this thread while it lives.
class WalkedTags {
 public:
  WalkedTags() { redIRI::detail::recordTopLevelTags(&m_tags); }
  ~WalkedTags() { stop(); }
  void stop() { redIRI::detail::recordTopLevelTags(nullptr); }
  const std::vector<Uint32>& tags() const { return m_tags; }

 private:
  std::vector<Uint32> m_tags;
};

// The top-level elements DCMTK accepted against those the walk met: DCMTK keeps them sorted and
// one of each tag, so the walk's are compared as a sorted set.
inline void checkTopLevel(DcmItem* dataset, std::vector<Uint32> walked) {
  if (!dataset) return;
  std::sort(walked.begin(), walked.end());
  walked.erase(std::unique(walked.begin(), walked.end()), walked.end());
  std::vector<Uint32> parsed;
  for (DcmObject* element = dataset->nextInContainer(nullptr); element; element = dataset->nextInContainer(element))
    parsed.push_back(Uint32(element->getGTag()) << 16 | element->getETag());
  if (parsed == walked) return;
  size_t at = 0;
  while (at < parsed.size() && at < walked.size() && parsed[at] == walked[at]) ++at;
  auto show = [](const std::vector<Uint32>& tags, size_t i) {
    return i < tags.size() ? static_cast<unsigned>(tags[i]) : 0xFFFFFFFFu;
  };
  std::fprintf(stderr, "the walk and DCMTK part at top-level element %zu: DCMTK read %08x, the walk met %08x (%zu and %zu elements)\n",
               at, show(parsed, at), show(walked, at), parsed.size(), walked.size());
  std::abort();
}

}  // namespace qvfuzz
