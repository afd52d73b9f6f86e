// The fuzz invariant of DCMTK's parse: whatever it accepted holds no item nested deeper than
// kMaxSequenceDepth sequences and no more items and elements than one parse may build. A parse
// that kept more passed the bound some way it does not count; abort() makes libFuzzer keep the
// input, at a depth of 129 rather than only when the stack ends thousands of levels down.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>

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
// walked safely.
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
    for (unsigned long i = 0; i < item->card(); ++i) {
      DcmElement* element = item->getElement(i);
      ++nodes;
      if (!element || (element->ident() != EVR_SQ && element->ident() != EVR_pixelSQ)) continue;
      auto* sequence = static_cast<DcmSequenceOfItems*>(element);
      nodes += sequence->card();
      if (element->ident() != EVR_SQ) continue;  // fragments hold bytes, not elements
      for (unsigned long k = 0; k < sequence->card(); ++k) open.push_back({sequence->getItem(k), depth + 1});
    }
  }
  if (nodes > redIRI::detail::kMaxParseNodes) {
    std::fprintf(stderr, "%llu items and elements were accepted\n", static_cast<unsigned long long>(nodes));
    std::abort();
  }
}

}  // namespace qvfuzz
