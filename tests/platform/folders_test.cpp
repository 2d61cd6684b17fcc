// tests/platform/folders_test.cpp: folders, file times, the temporary-file registry and
// waits with a time limit, as both system layers must provide them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"

namespace {

using namespace velorin;

TEST(PlatformFolders, ListsEntriesByNameWithTheirKindAndSetsFileTimes) {
    velorin_test::TempDir dir;
    const std::wstring root = widen_text(dir.path.c_str());
    const std::wstring sep(1, path_separator());
    const std::wstring sub = root + sep + L"sub folder";
    for (const wchar_t* name : {L"a.txt", L"b.wav", L"\u00e4 b.wav"}) {
        FILE* f = file_open((root + sep + name).c_str(), L"wb");
        ASSERT_TRUE(f);
        std::fclose(f);
    }
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("sub folder")));
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(folder_list(root.c_str(), &entries));
    std::vector<std::wstring> names;
    for (const FolderEntry& e : entries) names.push_back(e.name + (e.folder ? L"/" : L""));
    EXPECT_EQ(names,
              (std::vector<std::wstring>{L"a.txt", L"b.wav", L"sub folder/", L"\u00e4 b.wav"}));
    EXPECT_FALSE(folder_list((root + sep + L"missing").c_str(), &entries));
    ASSERT_TRUE(folder_list(sub.c_str(), &entries));
    EXPECT_TRUE(entries.empty());

    FileStatus st;
    ASSERT_TRUE(file_status(sub.c_str(), &st));
    EXPECT_TRUE(st.folder);
    const std::wstring file = root + sep + L"\u00e4 b.wav";
    ASSERT_TRUE(file_set_mtime(file.c_str(), 1500000000));
    ASSERT_TRUE(file_status(file.c_str(), &st));
    EXPECT_FALSE(st.folder);
    EXPECT_EQ(st.mtime, 1500000000);
    EXPECT_FALSE(file_set_mtime((root + sep + L"missing").c_str(), 1500000000));
}

TEST(PlatformFolders, TemporaryFileSlotsAreReusedAndBounded) {
    EXPECT_EQ(temp_file_register(L"x.tmp"), -1);  // the registry is a watching program's
    interrupt_watch();
    std::vector<int> slots;
    for (int i = 0; i < 100; ++i) slots.push_back(temp_file_register(L"x.tmp"));
    int taken = 0;
    for (int s : slots) taken += s >= 0;
    EXPECT_EQ(taken, 64);
    for (int s : slots) temp_file_forget(s);
    const int again = temp_file_register(L"y.tmp");
    EXPECT_GE(again, 0);
    temp_file_forget(again);
    EXPECT_EQ(temp_file_register(std::wstring(5000, L'a').c_str()), -1);
    EXPECT_FALSE(interrupt_requested());
}

TEST(PlatformFolders, TimedWaitEndsAtItsLimitOrWhenSignalled) {
    Event* e = event_create(false);
    ASSERT_TRUE(e);
    const int64_t start = perf_counter();
    EXPECT_FALSE(event_wait_ms(e, 30));
    EXPECT_GE(double(perf_counter() - start) / double(perf_frequency()), 0.025);
    event_set(e);
    EXPECT_TRUE(event_wait_ms(e, 10000));
    event_close(e);
    EXPECT_FALSE(event_wait_ms(nullptr, 1));
}

}  // namespace
