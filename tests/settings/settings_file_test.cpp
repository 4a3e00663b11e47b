#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "support/byte_writer.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A private configuration folder for the whole test program, set before the
// application-data folder is first looked up (it is cached per process).
fs::path ConfigRoot() {
  static const ScratchFolder root("vltr-settings-test");
  return root.path();
}
#ifndef _WIN32
const bool config_home_set = [] {
  ::setenv("XDG_CONFIG_HOME", ConfigRoot().c_str(), 1);
  return true;
}();
#endif

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const Bytes& b) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The settings file of the documented example: the record at its defaults
// saved into an otherwise empty store.
const Bytes kDefaultsFile = {
    0x72, 0x74, 0x6C, 0x76,                                                  // magic
    0x01, 0x00, 0x00, 0x00,                                                  // 1 section
    0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,                          // section 0, 5 entries
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // key 0, Integer, 0
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x03, 0x00, 0x00,  // key 1, Integer, 800
    0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x03, 0x00, 0x00,  // key 2, Integer, 800
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  // key 3, Integer, 1
    0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  // key 4, Integer, 1
};

ByteWriter FileHeader(std::uint32_t sections) {
  ByteWriter w;
  w.u32(kSettingsMagic).u32(sections);
  return w;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { TheSettingsStore().Clear(); }
  void TearDown() override { TheSettingsStore().Clear(); }
  fs::path Scratch(const std::string& name) {
    fs::path dir = ConfigRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir / name;
  }
};

TEST_F(SettingsFileTest, DefaultsSavedIntoEmptyStoreGiveThe76ByteFile) {
  SettingsRecord record;
  record.SaveToStore();
  Bytes bytes = SerializeSettings(TheSettingsStore(), kSettingsMagic);
  EXPECT_EQ(bytes.size(), 76u);
  EXPECT_EQ(bytes, kDefaultsFile);

  fs::path path = Scratch("VLTR.cfg");
  ASSERT_TRUE(SaveSettingsToPath(path.native()));
  EXPECT_EQ(ReadAll(path), kDefaultsFile);
}

TEST_F(SettingsFileTest, FirstCancelWritesMagicAndZeroSections) {
  // Nothing loaded (no file), nothing stored: the save writes the empty store.
  fs::path path = Scratch("VLTR.cfg");
  LoadSettingsFromPath(path.native());
  EXPECT_TRUE(TheSettingsStore().Empty());
  ASSERT_TRUE(SaveSettingsToPath(path.native()));
  EXPECT_EQ(ReadAll(path), (Bytes{0x72, 0x74, 0x6C, 0x76, 0, 0, 0, 0}));

  // The next load shows the defaults.
  LoadSettingsFromPath(path.native());
  SettingsRecord record;
  record.maxWidth = 1;
  record.addSuffix = false;
  record.LoadFromStore();
  EXPECT_EQ(record.makeSmallerCopies, 0);
  EXPECT_EQ(record.maxWidth, 800);
  EXPECT_EQ(record.maxHeight, 800);
  EXPECT_TRUE(record.addSuffix);
  EXPECT_TRUE(record.useSubfolders);
  EXPECT_EQ(record.exifMode, 1);  // no key 5: the full Exif
}

// The seed's settings file has no key 5: it means the full Exif, and saving
// the defaults over it keeps its five entries; a stored 0 stays basic.
TEST_F(SettingsFileTest, MissingExifKeyMeansFullAndBasicStaysStored) {
  fs::path path = Scratch("VLTR.cfg");
  WriteAll(path, kDefaultsFile);
  LoadSettingsFromPath(path.native());
  SettingsRecord record;
  record.exifMode = 0;
  record.LoadFromStore();
  EXPECT_EQ(record.exifMode, 1);
  record.SaveToStore();
  EXPECT_EQ(SerializeSettings(TheSettingsStore(), kSettingsMagic), kDefaultsFile);
  record.exifMode = 0;
  record.SaveToStore();
  SettingsRecord again;
  again.LoadFromStore();
  EXPECT_EQ(again.exifMode, 0);
}

TEST_F(SettingsFileTest, DefaultsFileLoadsBackToTheRecord) {
  SettingsStore store;
  EXPECT_EQ(ParseSettingsBytes(kDefaultsFile, kSettingsMagic, store), SettingsFileState::kRead);
  ASSERT_EQ(store.sections().size(), 1u);
  ASSERT_EQ(store.sections().at(0).size(), 5u);
  std::int32_t value = -1;
  EXPECT_TRUE(store.GetInt(0, 1, value));
  EXPECT_EQ(value, 800);
  EXPECT_EQ(SerializeSettings(store, kSettingsMagic), kDefaultsFile);
}

TEST_F(SettingsFileTest, ForeignSectionsAndTextBytesUnknownKindsSurviveLoadAndSave) {
  // Sections -1, 0 and 5 in ascending order, with every kind of payload.
  ByteWriter w = FileHeader(3);
  w.u32(static_cast<std::uint32_t>(-1)).u32(1);
  w.u32(7).u32(1).u32(3).u16('x').u16(0x263A).u16('z');  // Text of 3 units
  w.u32(0).u32(2);
  w.u32(1).u32(0).u32(5000);                    // maxWidth 5000
  w.u32(9).u32(2).u32(4).u8(0).u8(0xFF).u8(1).u8(2);  // Bytes of 4
  w.u32(5).u32(2);
  w.u32(static_cast<std::uint32_t>(-3)).u32(77);  // unknown kind: no payload
  w.u32(2).u32(1).u32(0);                         // empty Text
  const Bytes file = w.bytes();

  fs::path path = Scratch("VLTR.cfg");
  WriteAll(path, file);
  LoadSettingsFromPath(path.native());
  const SettingsStore& store = TheSettingsStore();
  ASSERT_EQ(store.sections().size(), 3u);
  EXPECT_EQ(store.sections().begin()->first, -1);
  const SettingValue* text = store.Find(-1, 7);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->kind, SettingKind::Text);
  EXPECT_EQ(text->text, (std::u16string{u'x', u'\u263A', u'z'}));
  const SettingValue* bytes = store.Find(0, 9);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes->kind, SettingKind::Bytes);
  EXPECT_EQ(bytes->bytes, std::string("\x00\xFF\x01\x02", 4));
  const SettingValue* unknown = store.Find(5, -3);
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(static_cast<std::int32_t>(unknown->kind), 77);

  SettingsRecord record;
  record.LoadFromStore();
  EXPECT_EQ(record.maxWidth, 5000);

  ASSERT_TRUE(SaveSettingsToPath(path.native()));
  EXPECT_EQ(ReadAll(path), file);
}

TEST_F(SettingsFileTest, SectionMinusOneIsWrittenBeforeSectionZero) {
  SettingsStore store;
  store.SetInt(0, 0, 1);
  store.SetInt(-1, 4, 2);
  store.SectionAt(3);  // a section without entries is kept
  Bytes expected = FileHeader(3)
                       .u32(static_cast<std::uint32_t>(-1)).u32(1).u32(4).u32(0).u32(2)
                       .u32(0).u32(1).u32(0).u32(0).u32(1)
                       .u32(3).u32(0)
                       .bytes();
  EXPECT_EQ(SerializeSettings(store, kSettingsMagic), expected);
}

TEST_F(SettingsFileTest, TextEndsAtFirstZeroUnitAndIsWrittenBackShort) {
  Bytes file = FileHeader(1).u32(5).u32(1).u32(0).u32(1).u32(3).u16('a').u16(0).u16('b').bytes();
  SettingsStore store;
  ParseSettingsBytes(file, kSettingsMagic, store);
  const SettingValue* v = store.Find(5, 0);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->text, u"a");
  Bytes expected = FileHeader(1).u32(5).u32(1).u32(0).u32(1).u32(1).u16('a').bytes();
  EXPECT_EQ(SerializeSettings(store, kSettingsMagic), expected);
}

TEST_F(SettingsFileTest, LaterDuplicateEntryOverwritesKindAndItsFieldOnly) {
  // Key 1 first as Text, then as Integer: the Integer wins, the text stays
  // in the unused field (only the named field is written out).
  Bytes file = FileHeader(2)
                   .u32(0).u32(1).u32(1).u32(1).u32(1).u16('q')
                   .u32(0).u32(1).u32(1).u32(0).u32(640)
                   .bytes();
  SettingsStore store;
  ParseSettingsBytes(file, kSettingsMagic, store);
  ASSERT_EQ(store.sections().size(), 1u);
  const SettingValue* v = store.Find(0, 1);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->kind, SettingKind::Integer);
  EXPECT_EQ(v->integer, 640);
  EXPECT_EQ(v->text, u"q");
  EXPECT_EQ(SerializeSettings(store, kSettingsMagic), FileHeader(1).u32(0).u32(1).u32(1).u32(0).u32(640).bytes());
}

struct DamagedCase {
  const char* name;
  Bytes file;
  int sections;          // sections expected in the store afterwards
  int entries_in_zero;   // entries expected in section 0 (-1: no section 0)
  SettingsFileState state = SettingsFileState::kDamaged;
};

TEST_F(SettingsFileTest, DamagedFilesLoadSafelyKeepingCompleteEntries) {
  const Bytes two_good = FileHeader(1).u32(0).u32(3).u32(1).u32(0).u32(321).u32(2).u32(0).u32(123).bytes();
  auto with = [&](std::initializer_list<std::uint32_t> tail) {
    ByteWriter w;
    w.raw(two_good);
    for (std::uint32_t v : tail) w.u32(v);
    return w.bytes();
  };
  const std::vector<DamagedCase> cases = {
      {"empty file", {}, 0, -1, SettingsFileState::kForeign},
      {"short magic", {0x72, 0x74, 0x6C}, 0, -1, SettingsFileState::kForeign},
      {"wrong magic", {0x76, 0x6C, 0x74, 0x72, 0, 0, 0, 0}, 0, -1, SettingsFileState::kForeign},
      {"magic only", {0x72, 0x74, 0x6C, 0x76}, 0, -1},
      {"huge section count", FileHeader(0xFFFFFFFFu).bytes(), 0, -1},
      {"huge entry count", FileHeader(1).u32(0).u32(0xFFFFFFFFu).bytes(), 1, 0},
      {"truncated integer", with({3, 0}), 1, 2},
      {"truncated kind", with({3}), 1, 2},
      {"huge text count", with({3, 1, 0xFFFFFFFFu, 0x00610061}), 1, 2},
      {"text one unit short", with({3, 1, 3, 0x00620061}), 1, 2},
      {"huge bytes count", with({3, 2, 0x80000000u, 1}), 1, 2},
      {"bytes one short", with({3, 2, 5, 0x01020304}), 1, 2},
      {"cut inside a count", [&] { Bytes b = with({3, 2}); b.push_back(4); b.push_back(0); return b; }(), 1, 2},
      {"a byte after the last section",
       FileHeader(1).u32(0).u32(2).u32(1).u32(0).u32(321).u32(2).u32(0).u32(123).u8(0).bytes(), 1, 2},
  };
  for (const DamagedCase& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsStore store;
    store.SetInt(42, 42, 42);  // must be gone after any load
    EXPECT_EQ(ParseSettingsBytes(c.file, kSettingsMagic, store), c.state);
    EXPECT_EQ(static_cast<int>(store.sections().size()), c.sections);
    EXPECT_EQ(store.Find(42, 42), nullptr);
    if (c.entries_in_zero < 0) {
      EXPECT_EQ(store.sections().count(0), 0u);
    } else {
      ASSERT_EQ(store.sections().count(0), 1u);
      EXPECT_EQ(static_cast<int>(store.sections().at(0).size()), c.entries_in_zero);
      std::int32_t v = 0;
      if (c.entries_in_zero >= 1) {
        EXPECT_TRUE(store.GetInt(0, 1, v) && v == 321);
      }
      if (c.entries_in_zero >= 2) {
        EXPECT_TRUE(store.GetInt(0, 2, v) && v == 123);
      }
    }
  }
}

TEST_F(SettingsFileTest, RecordFallsBackPerMemberWhenKindIsNotInteger) {
  Bytes file = FileHeader(1)
                   .u32(0).u32(5)
                   .u32(0).u32(0).u32(1)
                   .u32(1).u32(1).u32(2).u16('4').u16('2')  // maxWidth as Text
                   .u32(2).u32(0).u32(0)                    // maxHeight 0
                   .u32(3).u32(2).u32(1).u8(0)              // addSuffix as Bytes
                   .u32(4).u32(0).u32(7)                    // useSubfolders: non-zero
                   .bytes();
  fs::path path = Scratch("VLTR.cfg");
  WriteAll(path, file);
  LoadSettingsFromPath(path.native());
  SettingsRecord record;
  record.LoadFromStore();
  EXPECT_EQ(record.makeSmallerCopies, 1);
  EXPECT_EQ(record.maxWidth, 800);
  EXPECT_EQ(record.maxHeight, 0);
  EXPECT_TRUE(record.addSuffix);
  EXPECT_TRUE(record.useSubfolders);

  // The foreign kinds stay until the record is stored over them.
  EXPECT_EQ(TheSettingsStore().Find(0, 1)->kind, SettingKind::Text);
  record.SaveToStore();
  EXPECT_EQ(TheSettingsStore().Find(0, 1)->kind, SettingKind::Integer);
  EXPECT_EQ(TheSettingsStore().Find(0, 1)->integer, 800);
  ASSERT_TRUE(SaveSettingsToPath(path.native()));
  Bytes expected = FileHeader(1)
                       .u32(0).u32(5)
                       .u32(0).u32(0).u32(1)
                       .u32(1).u32(0).u32(800)
                       .u32(2).u32(0).u32(0)
                       .u32(3).u32(0).u32(1)
                       .u32(4).u32(0).u32(1)
                       .bytes();
  EXPECT_EQ(ReadAll(path), expected);
}

TEST_F(SettingsFileTest, GetAndSetHelpersNeverCreateOnRead) {
  std::int32_t value = 17;
  bool flag = false;
  EXPECT_FALSE(GetIntSetting(0, 1, value));
  EXPECT_FALSE(GetBoolSetting(0, 1, flag));
  EXPECT_EQ(value, 17);
  EXPECT_FALSE(flag);
  EXPECT_TRUE(TheSettingsStore().Empty());

  SetBoolSetting(2, 3, true);
  SetIntSetting(2, 4, -5);
  EXPECT_TRUE(GetIntSetting(2, 3, value));
  EXPECT_EQ(value, 1);
  EXPECT_TRUE(GetBoolSetting(2, 4, flag));
  EXPECT_TRUE(flag);
  SetBoolSetting(2, 3, false);
  EXPECT_TRUE(GetBoolSetting(2, 3, flag));
  EXPECT_FALSE(flag);

  // Changing the kind to Integer keeps the text field as it was.
  TheSettingsStore().EntryAt(2, 9).kind = SettingKind::Text;
  TheSettingsStore().EntryAt(2, 9).text = u"keep";
  EXPECT_FALSE(GetIntSetting(2, 9, value));
  SetIntSetting(2, 9, 3);
  EXPECT_EQ(TheSettingsStore().Find(2, 9)->text, u"keep");
}

TEST_F(SettingsFileTest, RecordRoundTripsNonDefaultValues) {
  SettingsRecord out;
  out.makeSmallerCopies = 1;
  out.maxWidth = 0;
  out.maxHeight = 5000;
  out.addSuffix = false;
  out.useSubfolders = false;
  out.SaveToStore();
  fs::path path = Scratch("VLTR.cfg");
  ASSERT_TRUE(SaveSettingsToPath(path.native()));
  TheSettingsStore().Clear();
  LoadSettingsFromPath(path.native());
  SettingsRecord in;
  in.LoadFromStore();
  EXPECT_EQ(in.makeSmallerCopies, 1);
  EXPECT_EQ(in.maxWidth, 0);
  EXPECT_EQ(in.maxHeight, 5000);
  EXPECT_FALSE(in.addSuffix);
  EXPECT_FALSE(in.useSubfolders);
}

struct PatternCase {
  bool addSuffix, useSubfolders;
  const char* folder_native;
  const char* folder_scaled;
  const char* file_native;
  const char* file_scaled;
};

TEST_F(SettingsFileTest, FolderAndFilePatternsFollowTheTable) {
  const PatternCase cases[] = {
      {true, true, "extracted_jpegs", "extracted_jpegs_%W", "%N_VLTR.jpg", "%N_VLTR_%W.jpg"},
      {true, false, "", "", "%N_VLTR.jpg", "%N_VLTR_%W.jpg"},
      {false, false, "", "", "%N.jpg", "%N_%W.jpg"},
      {false, true, "extracted_jpegs", "extracted_jpegs_%W", "%N.jpg", "%N.jpg"},
  };
  for (const PatternCase& c : cases) {
    SCOPED_TRACE(std::string("suffix ") + (c.addSuffix ? "on" : "off") + ", subfolders " +
                 (c.useSubfolders ? "on" : "off"));
    SettingsRecord r;
    r.addSuffix = c.addSuffix;
    r.useSubfolders = c.useSubfolders;
    EXPECT_EQ(native_to_utf8(r.FolderPattern(false)), c.folder_native);
    EXPECT_EQ(native_to_utf8(r.FolderPattern(true)), c.folder_scaled);
    EXPECT_EQ(native_to_utf8(r.FilePattern(false)), c.file_native);
    EXPECT_EQ(native_to_utf8(r.FilePattern(true)), c.file_scaled);
  }
}

TEST_F(SettingsFileTest, SaveCreatesFoldersReplacesForeignFileAndLeavesNoTemporary) {
  fs::path dir = Scratch("unused").parent_path() / "a" / "b";
  fs::path path = dir / "VLTR.cfg";
  SetIntSetting(0, 1, 1000);
  ASSERT_TRUE(SaveSettingsToPath(path.native()));
  Bytes first = ReadAll(path);
  EXPECT_EQ(first.size(), 8u + 8u + 12u);

  // A foreign file at the path loads as nothing and is replaced on save.
  WriteAll(path, Bytes(100, 0xAB));
  LoadSettingsFromPath(path.native());
  EXPECT_TRUE(TheSettingsStore().Empty());
  SetIntSetting(0, 1, 1000);
  ASSERT_TRUE(SaveSettingsToPath(path.native()));
  EXPECT_EQ(ReadAll(path), first);
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(SettingsFileTest, NamedSettingsFileLivesUnderTheConfigFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows folder comes from the shell";
#else
  EXPECT_EQ(fs::path(AppDataFolder()), ConfigRoot());
  EXPECT_EQ(fs::path(SettingsFilePath()), ConfigRoot() / "Kerbelin" / "VLTR" / "VLTR.cfg");

  fs::remove_all(ConfigRoot() / "Kerbelin");
  SettingsRecord{}.SaveToStore();
  SaveSettingsFile(kSettingsMagic, native_path("Kerbelin"), native_path("VLTR"), native_path("VLTR.cfg"));
  EXPECT_EQ(ReadAll(ConfigRoot() / "Kerbelin" / "VLTR" / "VLTR.cfg"), kDefaultsFile);

  TheSettingsStore().Clear();
  SetIntSetting(9, 9, 9);
  LoadSettingsFile(kSettingsMagic, native_path("Kerbelin"), native_path("VLTR"), native_path("VLTR.cfg"));
  EXPECT_EQ(SerializeSettings(TheSettingsStore(), kSettingsMagic), kDefaultsFile);

  // Another magic number makes the same file foreign.
  LoadSettingsFile(0x12345678, native_path("Kerbelin"), native_path("VLTR"), native_path("VLTR.cfg"));
  EXPECT_TRUE(TheSettingsStore().Empty());
#endif
}

// Users who keep dotfiles as links lost the link on save, and the file went
// from mode 600 to 644.
TEST_F(SettingsFileTest, SaveWritesThroughASymlinkAndKeepsTheMode) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links and mode bits are POSIX matters";
#else
  const fs::path base = Scratch("unused").parent_path();
  const fs::path dotfiles = base / "dotfiles", config = base / "config";
  fs::create_directories(dotfiles);
  fs::create_directories(config);
  WriteAll(dotfiles / "VLTR.cfg", Bytes(4, 0));
  fs::permissions(dotfiles / "VLTR.cfg", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("../dotfiles/VLTR.cfg", config / "VLTR.cfg");  // relative, as dotfile managers make them
  SettingsRecord{}.SaveToStore();
  ASSERT_TRUE(SaveSettingsToPath((config / "VLTR.cfg").native()));
  EXPECT_TRUE(fs::is_symlink(config / "VLTR.cfg"));
  EXPECT_EQ(ReadAll(dotfiles / "VLTR.cfg"), kDefaultsFile);
  EXPECT_EQ(fs::status(dotfiles / "VLTR.cfg").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  for (const fs::path& dir : {dotfiles, config})
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << dir;
#endif
}

}  // namespace
