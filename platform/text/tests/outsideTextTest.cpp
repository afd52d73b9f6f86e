// Text from outside made one clean line: what it keeps, what it folds, what it drops, where it cuts.
#include <gtest/gtest.h>

#include <string>

#include "outsideText.h"

namespace {

const std::string kRlo = "\xE2\x80\xAE", kZwsp = "\xE2\x80\x8B", kFffd = "\xEF\xBF\xBD", kEllipsis = "\xE2\x80\xA6";

TEST(OutsideText, OneRuleForControlsInvalidBytesAndWhatReordersOrHides) {
  const std::string hebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";  // shalom
  const std::string arabic = "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85";  // salam
  // Each row is read otherwise by at least one of the rules the program had before this one.
  const struct {
    std::string in, out;
  } rows[] = {
      // A run of controls, with the spaces beside it, is one space; none at either end.
      {"\nfailed:\r\n  FORGED \x1b[2J\x07\xC2\x85" "end\n", "failed: FORGED [2J end"},
      {"a\x7f" "b\xE2\x80\xA8" "c\xE2\x80\xA9", "a b c"},
      {" two  spaces ", " two  spaces "},
      // Each byte that begins no character is U+FFFD (stray, cut, overlong, surrogate).
      {"x\xFF\xC3(\xC0\xAF\xED\xA0\x80", "x" + kFffd + kFffd + "(" + kFffd + kFffd + kFffd + kFffd + kFffd},
      {"cut\xE4\xB8", "cut" + kFffd + kFffd},
      // A name is shown as stored: the override and its kind are gone.
      {"EVIL" + kRlo + "^NAME", "EVIL^NAME"},
      {"\xE2\x80\xAA" "a\xE2\x81\xA6" "b\xE2\x81\xA9\xE2\x80\x8E" "c\xE2\x80\x8F\xD8\x9C", "abc"},
      {"\xEF\xBB\xBF" "ID" + kZwsp + "\xE2\x80\x8C\xE2\x80\x8D\xE2\x81\xA0" "42\xC2\xAD\xF3\xA0\x80\x81", "ID42"},
      {" \t" + kZwsp + "\n" + kZwsp + " ", ""},
      // Right-to-left scripts keep their letters, in stored order.
      {kRlo + hebrew + " " + arabic + "\xE2\x80\x8F", hebrew + " " + arabic},
  };
  for (const auto& row : rows) EXPECT_EQ(cleanOutsideText(row.in), row.out) << row.in;

  std::string invisible;
  for (int i = 0; i < 3000; ++i) invisible += kZwsp;
  EXPECT_EQ(cleanOutsideText(invisible, 64), "");
}

TEST(OutsideText, ALongTextIsCutAtACharacterWithinItsBound) {
  const std::string e = "\xC3\xA9";
  // Dropped characters take none of the bound, and the cut is at a character.
  EXPECT_EQ(cleanOutsideText(kRlo + e + e + e + e + e + e, 10), e + e + e + kEllipsis);
  EXPECT_EQ(cleanOutsideText(kZwsp + "a" + e + e + e + e, 8), "a" + e + e + kEllipsis);
  EXPECT_EQ(cleanOutsideText("ab cdef", 6), "ab" + kEllipsis);  // no space before the ellipsis
}

}  // namespace
