#include "dcmWalk.h"

#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "dcmStreams.h"

namespace redIRI {
namespace detail {

namespace {

const Uint32 kUndefinedLength = 0xFFFFFFFFu;

// What the walk needs of a VR as two bytes of an explicit element header.
struct VrFacts {
  DcmEVR evr;
  bool standard;        // a VR of the standard, in capitals
  bool extendedLength;  // a 4-byte length after 2 reserved bytes (as DCMTK reads it, unknown VRs too)
};

VrFacts lookUpVr(unsigned char first, unsigned char second) {
  const char text[3] = {static_cast<char>(first), static_cast<char>(second), 0};
  const DcmVR vr(text);
  return {vr.getEVR(), vr.isStandard() && std::isupper(first) && std::isupper(second) != 0,
          vr.usesExtendedLengthEncoding() != 0};
}

// DcmVR finds a VR by comparing its name with every VR's in turn; the walk asks once per element,
// so the answers for two capitals (every VR of the standard) are made once.
VrFacts vrFacts(unsigned char first, unsigned char second) {
  // Never destroyed: a walk on a worker may still use it while the process exits.
  static const std::vector<VrFacts>& capitals = *new std::vector<VrFacts>([] {
    std::vector<VrFacts> table;
    for (int a = 0; a < 26; ++a)
      for (int b = 0; b < 26; ++b)
        table.push_back(lookUpVr(static_cast<unsigned char>('A' + a), static_cast<unsigned char>('A' + b)));
    return table;
  }());
  if (first >= 'A' && first <= 'Z' && second >= 'A' && second <= 'Z')
    return capitals[(first - 'A') * 26 + (second - 'A')];
  return lookUpVr(first, second);
}

std::string tagText(Uint16 group, Uint16 element) {
  char text[16];
  std::snprintf(text, sizeof(text), "(%04x,%04x)", group, element);
  return text;
}

// A value of odd length entered as a sequence: DCMTK reads such a value as bytes where the
// dictionary does not make it a sequence, and goes on at its odd end, where the walk would go on
// from inside it.
std::string oddOpeningItem(Uint16 group, Uint16 element) {
  return "a value " + tagText(group, element) + " of odd length that opens with an item";
}

thread_local std::vector<Uint32>* t_topLevel = nullptr;

}  // namespace

void recordTopLevelTags(std::vector<Uint32>* into) { t_topLevel = into; }

// Walks the data set as the stream yields it, keeping its own stack of open sequences and items.
// Values are skipped, sequences and items entered; an undefined-length Pixel Data holds fragments
// (items of bytes) unless stored as UN, and any other undefined-length value is walked as a
// sequence (DCMTK reads UN
// so, as implicit little endian). A defined-length value that starts with an item is entered too
// where DCMTK may read it as a sequence: in implicit VR (the dictionary decides there) and as UN
// (which DCMTK converts to the dictionary's VR). So the walk's nesting is never shallower than
// the recursion DCMTK will make.
OFCondition walkDataSet(DcmInputStream& stream, E_TransferSyntax xfer, const std::string& what,
                        const WalkLimits& limits) {
  // The first refusal met; the lambdas below record it and answer false.
  OFCondition refusal = EC_Normal;
  auto refuse = [&refusal](GuardCode code, const std::string& why) {
    refusal = guardRefusal(code, why);
    return false;
  };
  struct Level {
    bool item;       // an item (else a sequence or a value holding fragments or items)
    bool fragments;  // Pixel Data fragments: items of bytes
    bool implicit;
    bool bigEndian;
    uint64_t end;    // UINT64_MAX: up to its delimiter
    uint64_t bound;  // the nearest end of this level or one holding it
  };
  auto u16 = [](const unsigned char* p, bool big) {
    return static_cast<Uint16>(big ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8));
  };
  auto u32 = [&u16](const unsigned char* p, bool big) {
    return big ? (Uint32(u16(p, big)) << 16) | u16(p + 2, big) : Uint32(u16(p, big)) | (Uint32(u16(p + 2, big)) << 16);
  };
  const uint64_t open = UINT64_MAX;
  // Big-endian implicit VR is no transfer syntax of the standard, but DCMTK guesses it for a data set
  // whose first tag reads as valid in big endian only and is followed by no VR.
  const bool implicitVr = xfer == EXS_LittleEndianImplicit || xfer == EXS_BigEndianImplicit;
  const bool bigEndian = xfer == EXS_BigEndianExplicit || xfer == EXS_BigEndianImplicit;
  std::vector<Level> levels = {{true, false, implicitVr, bigEndian, open, open}};
  int sequences = 0;  // levels other than items
  auto push = [&](Level level) {
    level.bound = std::min(level.end, levels.back().bound);
    levels.push_back(level);
    if (!level.item && ++sequences > kMaxSequenceDepth) {
      return refuse(kUnsoundStructure,
                    "the " + what + " nests sequences deeper than " + std::to_string(kMaxSequenceDepth) + " levels");
    }
    return true;
  };
  auto pop = [&]() {
    if (!levels.back().item) --sequences;
    levels.pop_back();
  };
  // A value must end within the item or sequence holding it, as every encoder writes it. Past that
  // end DCMTK and the walk would part ways: DCMTK may read the value as a plain value where the
  // walk has entered it, or end the holder at its length and read on from there.
  auto fits = [&](uint64_t valueAt, Uint32 length) {
    if (valueAt + length <= levels.back().bound) return true;
    return refuse(kLengthPastEnd, "an element of the " + what + " runs past the item or sequence holding it, at byte " +
                                      std::to_string(valueAt));
  };
  StreamWindow data(stream, limits.lengthsMustFit ? limits.limit : UINT64_MAX);
  uint64_t pos = 0, furthest = 0, metaEnd = 0;
  Uint16 furthestGroup = 0, furthestElement = 0;
  auto declare = [&](uint64_t valueAt, Uint32 length, Uint16 group, Uint16 element) {
    if (valueAt + length > furthest) {
      furthest = valueAt + length;
      furthestGroup = group;
      furthestElement = element;
    }
  };
  while (data.cover(pos, 8)) {
    while (levels.size() > 1 && pos >= levels.back().end) pop();
    if (levels.back().bound <= pos) {
      // What a sequence or item holds runs past its length: DCMTK would go back to that length and
      // read the bytes there at another alignment than the walk has.
      refuse(kLengthPastEnd,
             "an item or sequence of the " + what + " holds more than its length at byte " + std::to_string(pos));
      return refusal;
    }
    if (pos + 8 > levels.back().bound) {
      // A header (a delimiter's too) reaching past the end of the item or sequence holding it:
      // DCMTK goes back to that end and reads from there, in the middle of the header.
      refuse(kLengthPastEnd,
             "a header of the " + what + " runs past the item or sequence holding it, at byte " + std::to_string(pos));
      return refusal;
    }
    const Level level = levels.back();
    const unsigned char* h = data.at(pos);
    if (limits.metaGroupOnly && levels.size() == 1) {
      // DCMTK reads the meta group while it finds group 0002 (in either byte order) or, when the
      // group starts with its length, up to that length.
      const bool metaGroup = (h[0] == 0x02 && h[1] == 0x00) || (h[0] == 0x00 && h[1] == 0x02);
      if (!metaGroup && pos >= metaEnd) return EC_Normal;
    }
    const Uint16 group = u16(h, level.bigEndian), element = u16(h + 2, level.bigEndian);
    if (t_topLevel && levels.size() == 1 && !limits.metaGroupOnly && group != 0xFFFE)
      t_topLevel->push_back(Uint32(group) << 16 | element);
    // Shapes DCMTK reads otherwise than the walk would: refused rather than followed.
    auto unmodelled = [&](const std::string& shape) {
      refuse(kUnmodelledShape, "the " + what + " holds " + shape + ", at byte " + std::to_string(pos));
      return refusal;
    };
    const bool delimiter = group == 0xFFFE && (element == 0xE00D || element == 0xE0DD);
    if (group == 0xFFFE && element != 0xE000 && !delimiter)
      // DCMTK reads such a tag as an element with a VR and a value, where the walk would take it for
      // an item's or delimiter's header.
      return unmodelled("an element " + tagText(group, element) + " that is neither an item nor a delimiter");
    if (delimiter && level.end != open)
      // DCMTK ends the item or sequence at the delimiter and reads the rest of its length as what
      // follows it.
      return unmodelled("a delimiter " + tagText(group, element) + " inside an item or sequence of defined length");
    if (group == 0xFFFE && element == 0xE000 && level.item) return unmodelled("an item where an element belongs");
    // A value of defined length that DCMTK may read as a sequence (see above) and that opens with a
    // delimiter: DCMTK ends the sequence there and reads the rest of the value as elements of the
    // item holding it.
    auto opensWithDelimiter = [&](uint64_t valueAt, Uint32 length, bool big) {
      if (length < 4 || length == kUndefinedLength || !data.cover(valueAt, 4)) return false;
      const Uint16 first = u16(data.at(valueAt) + 2, big);
      return u16(data.at(valueAt), big) == 0xFFFE && (first == 0xE00D || first == 0xE0DD);
    };
    if (group == 0x0004 && element == 0x1220 && !level.fragments) {
      refuse(kDirectoryRecord,
             "the " + what + " holds a directory record sequence (0004,1220), and directory records are not read");
      return refusal;
    }
    if (group == 0xFFFE || level.implicit) {
      const Uint32 length = u32(h + 4, level.bigEndian);
      const uint64_t valueAt = pos + 8;
      pos = valueAt;
      if (delimiter) {
        // An item delimiter among the data set's elements ends the data set, as it ends DCMTK's
        // reading; a delimiter ends the open level of its kind; one that matches nothing is passed
        // over.
        if (levels.size() == 1 && element == 0xE00D && !limits.metaGroupOnly) break;
        if (levels.size() > 1 && levels.back().end == open && levels.back().item == (element == 0xE00D)) pop();
        continue;
      }
      const bool item = group == 0xFFFE && element == 0xE000;
      const bool pixelData = group == 0x7FE0 && element == 0x0010;
      if (length != kUndefinedLength) {
        declare(valueAt, length, group, element);
        if (!fits(valueAt, length)) return refusal;
      }
      if (level.fragments && item) {
        // A fragment: bytes, or (undefined length, which DCMTK refuses) anything.
        if (length == kUndefinedLength) {
          if (!push({true, false, level.implicit, level.bigEndian, open, open})) return refusal;
        } else {
          declare(valueAt, length, group, element);
          pos = valueAt + length;
        }
        continue;
      }
      if (length == kUndefinedLength) {
        // DCMTK reads a value of undefined length whose tag the dictionary does not know as a
        // sequence in little-endian implicit VR, whatever the data set's byte order; in big endian
        // the walk follows only the dictionary's sequences.
        if (!item && !pixelData && level.implicit && level.bigEndian && DcmTag(group, element).getEVR() != EVR_SQ)
          return unmodelled("an element " + tagText(group, element) +
                            " of undefined length in big-endian implicit VR that is no sequence");
        if (!push({item, pixelData && !item, level.implicit, level.bigEndian, open, open})) return refusal;
        continue;
      }
      declare(valueAt, length, group, element);
      if (!item && opensWithDelimiter(valueAt, length, level.bigEndian))
        return unmodelled("a value " + tagText(group, element) + " of defined length that opens with a delimiter");
      bool enter = item;
      if (!enter && length >= 8 && data.cover(valueAt, 4))
        enter =
            u16(data.at(valueAt), level.bigEndian) == 0xFFFE && u16(data.at(valueAt) + 2, level.bigEndian) == 0xE000;
      if (enter && !item && length % 2) return unmodelled(oddOpeningItem(group, element));
      if (enter && !push({item, false, level.implicit, level.bigEndian, valueAt + length, open})) return refusal;
      if (!enter) pos = valueAt + length;
      continue;
    }
    const char vrText[3] = {static_cast<char>(h[4]), static_cast<char>(h[5]), 0};
    const VrFacts vr = vrFacts(h[4], h[5]);
    const bool validVR = vr.standard;
    if (!validVR && limits.lengthsMustFit) {
      refuse(kInvalidVR, "element " + tagText(group, element) + " of the " + what + " has no valid VR");
      return refusal;
    }
    uint64_t valueAt = pos + 8;
    Uint32 length = u16(h + 6, level.bigEndian);
    // As DCMTK: the length field of an unknown VR is as wide as its DcmVR says.
    if (vr.extendedLength) {
      if (!data.cover(pos, 12)) break;
      length = u32(data.at(pos) + 8, level.bigEndian);
      valueAt = pos + 12;
    }
    if (limits.metaGroupOnly && levels.size() == 1 && pos == 0 && group == 0x0002 && element == 0x0000 && length == 4 &&
        data.cover(valueAt, 4))
      metaEnd = valueAt + 4 + u32(data.at(valueAt), level.bigEndian);
    pos = valueAt;
    const DcmEVR evr = vr.evr;
    const bool sequence = evr == EVR_SQ;
    const bool unknown = evr == EVR_UN || !validVR;
    // Pixel Data as anything but bytes (OB, OW, or UN, which DCMTK converts): as "SQ" of undefined
    // length DCMTK builds a sequence and parses inside the items the walk would skip as fragments.
    if (group == 0x7FE0 && element == 0x0010 && !(validVR && (evr == EVR_OB || evr == EVR_OW || evr == EVR_UN)))
      return unmodelled(std::string("Pixel Data (7fe0,0010) stored as \"") + vrText + "\"");
    if (length != kUndefinedLength) {
      declare(valueAt, length, group, element);
      if (!fits(valueAt, length)) return refusal;
    }
    if (length == kUndefinedLength) {
      // Pixel Data stored as UN is read by DCMTK as a sequence of items holding elements.
      const bool fragments = group == 0x7FE0 && element == 0x0010 && !unknown;
      const Level inner = {false, fragments, unknown && !sequence, level.bigEndian && !(unknown && !sequence),
                           open,  open};
      if (!push(inner)) return refusal;
      continue;
    }
    declare(valueAt, length, group, element);
    if (unknown && opensWithDelimiter(valueAt, length, false))
      return unmodelled("a value " + tagText(group, element) + " of defined length that opens with a delimiter");
    bool enter = sequence, implicitInside = false;
    if (!enter && unknown && length >= 8 && data.cover(valueAt, 4)) {
      // UN holding items: DCMTK reads it as a sequence in implicit little endian.
      enter = implicitInside = u16(data.at(valueAt), false) == 0xFFFE && u16(data.at(valueAt) + 2, false) == 0xE000;
    }
    if (enter && length % 2) return unmodelled(oddOpeningItem(group, element));
    if (enter && !push({false, false, implicitInside, level.bigEndian && !implicitInside, valueAt + length, open}))
      return refusal;
    if (!enter) pos = valueAt + length;
  }
  if (!limits.lengthsMustFit) return EC_Normal;
  // Reads nothing more once past the bound.
  const uint64_t total = data.total();
  if (data.tooLarge()) {
    return guardRefusal(kTooLarge, "the " + what +
                                       (xfer == EXS_DeflatedLittleEndianExplicit ? " inflates to" : " holds") +
                                       " more than " + std::to_string(limits.limit >> 20) + " MiB");
  }
  if (furthest > total) {
    return guardRefusal(kLengthPastEnd, "element " + tagText(furthestGroup, furthestElement) +
                                            " declares a length reaching " + std::to_string(furthest) +
                                            " bytes into a " + what + " of " + std::to_string(total) + " bytes");
  }
  return EC_Normal;
}

}  // namespace detail
}  // namespace redIRI
