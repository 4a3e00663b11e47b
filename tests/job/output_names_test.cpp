#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/folder_test.h"
#include "job/output_names.h"
#include "settings/settings_record.h"

namespace fs = std::filesystem;

namespace {

NativePath N(const std::string& s) { return native_from_utf8(s); }
std::string U(const NativePath& p) { return native_to_utf8(p); }
// Test paths are written with '/' and turned into the platform's separator.
NativePath P(std::string s) {
  for (char& c : s)
    if (c == '/') c = static_cast<char>(kPathSeparator);
  return N(s);
}

using OutputNamesTest = FolderTest;

// Expands the output of RAW file `raw_name` in folder F the way the job does.
struct Output {
  std::string folder;  // expanded folder pattern ("" beside the RAW file)
  std::string file;
};
Output Name(const SettingsRecord& r, bool scaled, const std::string& raw_name, int file_w, int file_h) {
  const int box_w = scaled ? r.maxWidth : 0, box_h = scaled ? r.maxHeight : 0;
  return {U(ExpandFolderPattern(r.FolderPattern(scaled), box_w, box_h)),
          U(ExpandFilePattern(r.FilePattern(scaled), N(raw_name), file_w, file_h))};
}

struct LayoutCase {
  bool addSuffix, useSubfolders;
  int copy_w, copy_h;
  Output native, scaled;
};

TEST(OutputNameLayoutTest, FourLayoutsForLandscapeAndPortraitCopies) {
  const LayoutCase cases[] = {
      {true, true, 800, 600, {"extracted_jpegs", "IMG_1_VLTR.jpg"}, {"extracted_jpegs_800", "IMG_1_VLTR_800.jpg"}},
      {true, false, 800, 600, {"", "IMG_1_VLTR.jpg"}, {"", "IMG_1_VLTR_800.jpg"}},
      {false, true, 800, 600, {"extracted_jpegs", "IMG_1.jpg"}, {"extracted_jpegs_800", "IMG_1.jpg"}},
      {false, false, 800, 600, {"", "IMG_1.jpg"}, {"", "IMG_1_800.jpg"}},
      // Portrait preview: the folder carries the box width, the name the copy's.
      {true, true, 600, 800, {"extracted_jpegs", "IMG_1_VLTR.jpg"}, {"extracted_jpegs_800", "IMG_1_VLTR_600.jpg"}},
      {false, false, 600, 800, {"", "IMG_1.jpg"}, {"", "IMG_1_600.jpg"}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(std::string("suffix ") + (c.addSuffix ? "on" : "off") + ", subfolders " +
                 (c.useSubfolders ? "on" : "off") + ", copy width " + std::to_string(c.copy_w));
    SettingsRecord r;
    r.addSuffix = c.addSuffix;
    r.useSubfolders = c.useSubfolders;
    Output native = Name(r, false, "IMG_1.CR2", 0, 0);
    Output scaled = Name(r, true, "IMG_1.CR2", c.copy_w, c.copy_h);
    EXPECT_EQ(native.folder, c.native.folder);
    EXPECT_EQ(native.file, c.native.file);
    EXPECT_EQ(scaled.folder, c.scaled.folder);
    EXPECT_EQ(scaled.file, c.scaled.file);
  }
}

struct FileNameCase {
  const char* pattern;
  const char* raw_name;
  int w, h;
  const char* expected;
};

TEST(OutputNameLayoutTest, FilePatternExpansion) {
  const FileNameCase cases[] = {
      {"%N_VLTR.jpg", "my.trip.NEF", 0, 0, "my_VLTR.jpg"},          // split at the first dot
      {"%N_VLTR.jpg", "IMG_1", 0, 0, "IMG_1_VLTR.jpg"},             // no dot: whole name
      {"%N_VLTR.jpg", "DSC_0001.NEF", 0, 0, "DSC_0001_VLTR.jpg"},   // case kept
      {"%N_VLTR.jpg", "A%WB.CR2", 0, 0, "A0B_VLTR.jpg"},            // %W from the name expands later
      {"%N_VLTR_%W.jpg", "A%HB.CR2", 640, 480, "A480B_VLTR_640.jpg"},
      {"%N_VLTR.jpg", "x%Ny.CR2", 0, 0, "x%Ny_VLTR.jpg"},           // %N inserted once
      {"%N_VLTR.jpg", "e%Ez.a.b", 0, 0, "ea.bz_VLTR.jpg"},          // %E from the name expands after %N
      {"%N.%E.jpg", "IMG.0001.CR2", 0, 0, "IMG.0001.CR2.jpg"},
      {"%N[%E].jpg", "noext", 0, 0, "noext[].jpg"},
      {"%N_%Wx%H_%W.jpg", "a.b", -5, 2147483647, "a_-5x2147483647_-5.jpg"},
      {"%N_%W.jpg", ".hidden.CR2", 12, 0, "_12.jpg"},                // empty %N
      {"%%N%.jpg", "q.r", 0, 0, "%q%.jpg"},
  };
  for (const FileNameCase& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " with " + c.raw_name);
    EXPECT_EQ(U(ExpandFilePattern(N(c.pattern), N(c.raw_name), c.w, c.h)), c.expected);
  }
  EXPECT_EQ(U(ExpandFolderPattern(N("extracted_jpegs_%W_%H_%W"), 1000, -1)), "extracted_jpegs_1000_-1_1000");
}

TEST(OutputNameLayoutTest, ReplaceAllScansOnBehindEachReplacement) {
  struct {
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
  } cases[] = {
      {"aaa", "a", "aa", "aaaaaa"},  // never rescans inserted text
      {"%W%W", "%W", "%W%W", "%W%W%W%W"},
      {"abcabc", "bc", "", "aa"},
      {"abc", "", "x", "abc"},  // an empty placeholder changes nothing
      {"", "a", "b", ""},
      {"xyz", "q", "r", "xyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    NativePath text = N(c.text);
    ReplaceAll(text, N(c.from), N(c.to));
    EXPECT_EQ(U(text), c.expected);
  }
}

TEST(OutputNameLayoutTest, FolderAndNameParts) {
  struct {
    const char* path;
    bool ok;
    const char* folder;
    const char* name;
  } cases[] = {
      {"/photos/IMG_1.CR2", true, "/photos/", "IMG_1.CR2"},
      {"/photos/day/", true, "/photos/", ""},  // one trailing separator dropped for the folder
      {"/photos//", true, "/photos/", ""},     // only one
      {"/IMG_1.CR2", true, "/", "IMG_1.CR2"},
      {"/", false, "", ""},
      {"IMG_1.CR2", false, "", "IMG_1.CR2"},
      {"", false, "", ""},
      {"a/b", true, "a/", "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    NativePath folder = N("untouched");
    EXPECT_EQ(GetFolderPart(P(c.path), folder), c.ok);
    EXPECT_EQ(folder, c.ok ? P(c.folder) : N("untouched"));
    EXPECT_EQ(GetNamePart(P(c.path)), P(c.name));
  }
}

TEST(OutputNameLayoutTest, MirrorFolderNames) {
  struct {
    std::vector<const char*> paths;  // a trailing '*' marks a file named directly
    std::vector<const char*> names;
  } cases[] = {
      {{"/card"}, {""}},  // one path: mirrored straight
      {{"/a/IMG_1.CR2*"}, {""}},
      {{"/a/DCIM", "/b/DCIM/", "/a/DCIM/.", "/c/DCIM_2", "/d/dcim", "/e/IMG_9.CR2*", "/", "/f/x/.."},
       {"DCIM", "DCIM_2", "DCIM", "DCIM_2_2", "dcim_3", "", "root", "f"}},
  };
  for (const auto& c : cases) {
    std::vector<NativePath> selection;
    std::vector<bool> isFolder;
    for (std::string path : c.paths) {
      isFolder.push_back(path.back() != '*');
      if (!isFolder.back()) path.pop_back();
      selection.push_back(P(path));
    }
    std::vector<NativePath> expected;
    for (const char* name : c.names) expected.push_back(N(name));
    EXPECT_EQ(MirrorFolderNames(selection, isFolder), expected) << c.paths.front();
  }
}

TEST_F(OutputNamesTest, EnsureFolderExistingNewAndFileInTheWay) {
  NativePath base = root_.native();
  NativePath folder;
  // New folder, base without a trailing separator.
  ASSERT_TRUE(EnsureFolder(base, N("extracted_jpegs"), folder));
  EXPECT_EQ(folder, (root_ / "extracted_jpegs").native());
  EXPECT_TRUE(fs::is_directory(root_ / "extracted_jpegs"));
  // Existing folder, base with a trailing separator: no doubled separator.
  NativePath base_slash = base + kPathSeparator;
  ASSERT_TRUE(EnsureFolder(base_slash, N("extracted_jpegs"), folder));
  EXPECT_EQ(folder, (root_ / "extracted_jpegs").native());
  // A file of that name is in the way.
  std::ofstream(root_ / "extracted_jpegs_800") << "x";
  EXPECT_FALSE(EnsureFolder(base, N("extracted_jpegs_800"), folder));
  // The parent does not exist: one level only is made.
  EXPECT_FALSE(EnsureFolder((root_ / "missing").native(), N("sub"), folder));
  EXPECT_FALSE(fs::exists(root_ / "missing"));
}

TEST_F(OutputNamesTest, OutputExistsFormsThePathAndTestsReadability) {
  NativePath path;
  EXPECT_FALSE(OutputExists(root_.native(), N("a_VLTR.jpg"), path));
  EXPECT_EQ(path, (root_ / "a_VLTR.jpg").native());
  std::ofstream(root_ / "a_VLTR.jpg") << "jpeg";
  EXPECT_TRUE(OutputExists(root_.native() + kPathSeparator, N("a_VLTR.jpg"), path));
  EXPECT_EQ(path, (root_ / "a_VLTR.jpg").native());
  // A folder under the output's name is not an output.
  fs::create_directory(root_ / "b_VLTR.jpg");
  EXPECT_FALSE(OutputExists(root_.native(), N("b_VLTR.jpg"), path));
  EXPECT_TRUE(OutputExists(N(""), root_.native() + kPathSeparator + N("a_VLTR.jpg"), path));
}

TEST_F(OutputNamesTest, OpenFileWideReadsWritesAndRefusesOtherModes) {
  const fs::path file = root_ / "out.jpg";
  std::FILE* f = OpenFileWide(file.native(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fwrite("abc\n", 1, 4, f), 4u);  // binary: no newline translation
  std::fclose(f);
  f = OpenFileWide(file.native(), "rb");
  ASSERT_NE(f, nullptr);
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 4u);
  std::fclose(f);
  EXPECT_EQ(std::string(buf, 4), "abc\n");
  // "wb" truncates.
  f = OpenFileWide(file.native(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(fs::file_size(file), 0u);
  EXPECT_EQ(OpenFileWide(file.native(), "a"), nullptr);
  EXPECT_EQ(OpenFileWide(file.native(), ""), nullptr);
  EXPECT_EQ(OpenFileWide((root_ / "absent").native(), "rb"), nullptr);
  EXPECT_EQ(OpenFileWide(root_.native(), "rb"), nullptr);
}

}  // namespace
