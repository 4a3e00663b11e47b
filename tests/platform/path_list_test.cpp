#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/path_list.h"

namespace {

std::vector<std::wstring> Texts(const std::wstring& list) {
  std::vector<std::wstring> out;
  for (const PathListEntry& e : path_list_entries(list)) out.emplace_back(path_list_text(list, e));
  return out;
}

// Entries are split at ';' outside quotes; empty entries count.
TEST(PathListTest, EntriesAsWritten) {
  const struct {
    const wchar_t* list;
    std::vector<std::wstring> entries;
  } table[] = {
      {L"", {}},
      {L"C:\\a", {L"C:\\a"}},
      {L"C:\\a;%SystemRoot%", {L"C:\\a", L"%SystemRoot%"}},
      {L"C:\\a;", {L"C:\\a", L""}},
      {L";;C:\\a", {L"", L"", L"C:\\a"}},
      {L"\"D:\\x;y\";C:\\a", {L"\"D:\\x;y\"", L"C:\\a"}},
      {L" C:\\a ;C:\\b", {L" C:\\a ", L"C:\\b"}},
  };
  for (const auto& row : table) EXPECT_EQ(Texts(row.list), row.entries) << testing::PrintToString(row.list);
}

TEST(PathListTest, FolderForComparing) {
  const struct {
    const wchar_t* entry;
    const wchar_t* folder;
  } table[] = {
      {L"C:\\Program Files\\Veltrano", L"C:\\Program Files\\Veltrano"},
      {L"C:\\Program Files\\Veltrano\\", L"C:\\Program Files\\Veltrano"},
      {L"C:\\Program Files\\Veltrano\\\\", L"C:\\Program Files\\Veltrano"},
      {L"\"C:\\Program Files\\Veltrano\"", L"C:\\Program Files\\Veltrano"},
      {L"  C:\\Program Files\\Veltrano  ", L"C:\\Program Files\\Veltrano"},
      {L"C:\\", L"C:\\"},
      {L"\\", L"\\"},
      {L"", L""},
      {L"  ", L""},
  };
  for (const auto& row : table) EXPECT_EQ(path_list_folder(row.entry), row.folder) << testing::PrintToString(row.entry);
}

// Appending and then erasing the new entry gives back the list exactly,
// except that a list ending in ';' gets the entry without a second one.
TEST(PathListTest, AppendThenEraseRestoresTheList) {
  const std::wstring ours = L"C:\\Program Files\\Veltrano";
  const struct {
    const wchar_t* before;
    const wchar_t* after;
  } table[] = {
      {L"", L"C:\\Program Files\\Veltrano"},
      {L"C:\\a", L"C:\\a;C:\\Program Files\\Veltrano"},
      {L"%SystemRoot%;C:\\Program Files\\Veltrano2", L"%SystemRoot%;C:\\Program Files\\Veltrano2;C:\\Program Files\\Veltrano"},
      {L";;x", L";;x;C:\\Program Files\\Veltrano"},
      {L"C:\\a;", L"C:\\a;C:\\Program Files\\Veltrano"},
  };
  for (const auto& row : table) {
    const std::wstring after = path_list_append(row.before, ours);
    EXPECT_EQ(after, row.after);
    const std::vector<PathListEntry> entries = path_list_entries(after);
    ASSERT_FALSE(entries.empty());
    ASSERT_EQ(path_list_text(after, entries.back()), ours);
    const std::wstring restored = path_list_erase(after, entries.back());
    const std::wstring before = row.before;
    EXPECT_EQ(restored, before.size() && before.back() == L';' ? before.substr(0, before.size() - 1) : before);
  }
  EXPECT_EQ(path_list_append(L"C:\\a", L"D:\\x;y"), L"C:\\a;\"D:\\x;y\"");
}

// Erasing takes the entry and one separator beside it, nothing else.
TEST(PathListTest, EraseKeepsEveryOtherEntry) {
  const std::wstring list = L"A;;B;C";
  const std::vector<PathListEntry> e = path_list_entries(list);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(path_list_erase(list, e[0]), L";B;C");
  EXPECT_EQ(path_list_erase(list, e[1]), L"A;B;C");
  EXPECT_EQ(path_list_erase(list, e[2]), L"A;;C");
  EXPECT_EQ(path_list_erase(list, e[3]), L"A;;B");
  EXPECT_EQ(path_list_erase(L"A", path_list_entries(L"A")[0]), L"");
}

}  // namespace
