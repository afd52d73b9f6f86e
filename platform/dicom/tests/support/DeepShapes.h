// Data sets nested deeper than DCMTK's recursion survives, as bytes: how tests play a peer or a
// file that would end the program were DCMTK's parse not bounded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

// `levels` sequences (0008,1115) nested in one another, each of undefined length holding one item
// of undefined length, closed properly; little endian, explicit or implicit VR.
std::vector<uint8_t> nestedSequences(int levels, bool explicitVr);

// One element (0040,A730) of defined length whose value opens with a sequence delimiter and goes
// on with `levels` nested sequences (0040,A730) of undefined length, each opening an item. DCMTK
// reads that tag as a sequence (by the dictionary in implicit VR; as UN converted to the
// dictionary's VR in explicit VR), ends it at the delimiter and reads the rest of the value as
// elements of the item holding it.
std::vector<uint8_t> delimiterThenNesting(int levels, bool explicitVr);

// A sequence (0008,1115) of undefined length holding `items` empty items, explicit VR little
// endian: 8 bytes on the wire for each node of DCMTK's tree.
std::vector<uint8_t> emptyItems(int items);

// Explicit VR little endian elements on which the structural walk once parted from DCMTK's
// reading: a value (0011,1010) "UN" of odd length that opens with an item, whose delimiter's
// header runs past its end. DCMTK reads the value as bytes and goes on five bytes into that
// header, where it finds (0010,4000) and then a directory record sequence of undefined length:
// a sound record holding `items` empty items, then the damaged records of the crafted file
// directory-record-aborts.dcm (DCMTK throws reading one); then (0028,0010). The walk read on from
// the delimiter's end, three bytes into (0010,4000), as an element "OB" whose value held the
// directory record sequence.
std::vector<uint8_t> partedDirectoryRecords(int items);

// `bytes` deflated as the deflated transfer syntax holds a data set (raw, no zlib header), padded
// to an even length as PDVs carry it.
std::vector<uint8_t> deflated(const std::vector<uint8_t>& bytes);

// The SOP Class and Instance UID elements (explicit VR little endian) followed by `rest`: a data
// set the storage server stores once DCMTK can parse it.
std::vector<uint8_t> identified(const std::string& sopClass, const std::string& sopInstance,
                                const std::vector<uint8_t>& rest);

// Appends `bytes` to a file (a written image: elements after its last one).
void appendTo(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace qvtest
