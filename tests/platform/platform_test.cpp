// tests/platform/platform_test.cpp: events, paths and the decoder process.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velorin;

TEST(PlatformText, WidenAndNarrowRoundTripEveryByte) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    all += "\xe3\x81\x82 voice \xf0\x9f\x8e\xb5";
    const std::wstring w = widen_text(all.c_str());
    EXPECT_EQ(narrow_text(w.c_str()), all);
    EXPECT_EQ(widen_text("\xe3\x81\x82"), std::wstring(L"\u3042"));
    // Past U+FFFF: one wchar_t, or a surrogate pair where wchar_t has 16 bits.
    EXPECT_EQ(widen_text("\xf0\x9f\x8e\xb5"), std::wstring(L"\U0001F3B5"));
    EXPECT_EQ(narrow_text(L"a\U0001F3B5b"),
              "a\xf0\x9f\x8e\xb5"
              "b");
    // Overlong forms and encoded surrogates travel as escaped bytes.
    EXPECT_EQ(widen_text("\xc0\xaf"), std::wstring(L"\xdcc0\xdcaf"));
    EXPECT_EQ(widen_text("\xed\xa0\x80"), std::wstring(L"\xdced\xdca0\xdc80"));
}

namespace {
std::vector<std::wstring> seen_args;
int record_args(int argc, wchar_t** argv) {
    for (int i = 0; i < argc; ++i) seen_args.push_back(argv[i]);
    return argv[argc] == nullptr ? 7 : -1;
}
}  // namespace

TEST(PlatformText, EntryArgumentsArriveWideAndNullTerminated) {
    char a0[] = "velorin", a1[] = "\xc3\xa4 voice.wav", a2[] = "\xff";
    char* argv[] = {a0, a1, a2, nullptr};
    seen_args.clear();
    EXPECT_EQ(main_with_wide_args(3, argv, record_args), 7);
    EXPECT_EQ(seen_args, (std::vector<std::wstring>{L"velorin", L"\u00e4 voice.wav", L"\xdcff"}));
}

TEST(PlatformEvents, WaitAnyReturnsLowestSignalledIndex) {
    Event* e[3] = {event_create(false), event_create(true), event_create(true)};
    EXPECT_EQ(wait_any(e, 3), 1);
    event_reset(e[1]);
    EXPECT_EQ(wait_any(e, 3), 2);
    event_set(e[0]);
    EXPECT_EQ(wait_any(e, 3), 0);
    EXPECT_EQ(wait_any(nullptr, 3), -1);
    for (Event* x : e) event_close(x);
}
