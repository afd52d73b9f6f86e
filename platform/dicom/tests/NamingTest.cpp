// Storage folder and file names: deterministic, always three safe components below the root,
// distinct for distinct values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dcmNaming.h"

using namespace redIRI::naming;

namespace {

std::vector<std::string> split(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    parts.push_back(path.substr(start, slash - start));
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

}  // namespace

TEST(Naming, FoldersAreThreeSafeComponents) {
  EXPECT_EQ(foldedHash("abc"), 0xe25ef552u);
  const std::string uid = "2.25.329800735698586629295641978511506172918";
  EXPECT_EQ(dicomFolder("Doe^Jane", "12345", uid, uid + ".1"), "Doe^Jane_12345/" + uid + "/" + uid + ".1");
  EXPECT_EQ(dicomFolder("Doe^Jane", "12345", uid, uid), dicomFolder("Doe^Jane", "12345", uid, uid));
  EXPECT_EQ(dicomFolder("", "", "", ""), "ANONYMOUS_EmptyID/unknownStudy/unknownSeries");

  const std::string longName(300, 'x');
  const std::string hostile[] = {"../../x", "/abs", "a\\b", ".", "..", "...", longName, std::string("nul\0byte", 8),
                                 "王小明", "a/../../b"};
  for (const std::string& value : hostile) {
    SCOPED_TRACE(value);
    const std::string folder = dicomFolder(value, value, value, value);
    EXPECT_LE(folder.size(), 1023u);
    const std::vector<std::string> parts = split(folder);
    ASSERT_EQ(parts.size(), 3u);
    for (const std::string& p : parts) {
      EXPECT_FALSE(p.empty());
      EXPECT_NE(p[0], '.') << "no dot-only or hidden component";
      EXPECT_EQ(p.find('\\'), std::string::npos);
      EXPECT_EQ(p.find('\0'), std::string::npos);
      EXPECT_LE(p.size(), 64u + 9u);
    }
  }

  // Values that had to change keep apart from the values they were changed into.
  EXPECT_NE(dicomFolder("A/B", "1", uid, uid), dicomFolder("A_B", "1", uid, uid));
  // Nor do two patients whose name and ID joined by "_" read the same.
  EXPECT_NE(split(dicomFolder("A_B", "C", uid, uid))[0], split(dicomFolder("A", "B_C", uid, uid))[0]);
  EXPECT_NE(split(dicomFolder("A_B/", "C", uid, uid))[0], split(dicomFolder("A", "B/_C", uid, uid))[0]);
  EXPECT_EQ(split(dicomFolder("A_B", "C", uid, uid))[0].rfind("A_B_C_", 0), 0u);
  EXPECT_NE(safeComponent(longName), safeComponent(longName + "y"));
  EXPECT_EQ(safeComponent("A_B"), "A_B");
  EXPECT_EQ(safeComponent("A/B").rfind("A_B_", 0), 0u);
}

TEST(Naming, FileNamesAreUidsOrHashes) {
  EXPECT_EQ(instanceFileName("2.25.1002.3.4"), "2.25.1002.3.4");
  for (const char* odd : {"../../evil", ".1.2", "1.2.a", "", "1.2/3"}) {
    SCOPED_TRACE(odd);
    const std::string name = instanceFileName(odd);
    EXPECT_EQ(name.size(), 8u);
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
  EXPECT_EQ(instanceFileName(std::string(65, '1')).size(), 8u);
  EXPECT_EQ(instanceFileName(""), instanceFileName("unknownImageUID"));
  EXPECT_NE(instanceFileName("1.2.a"), instanceFileName("1.2.b"));
}
