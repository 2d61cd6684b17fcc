// tests/platform/platform_test.cpp: events, paths and the decoder process.
#include <gtest/gtest.h>

#include "platform/platform.h"

using namespace velorin;

TEST(PlatformText, WidenAndNarrowRoundTripEveryByte) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    all += "\xe3\x81\x82 voice \xf0\x9f\x8e\xb5";
    const std::wstring w = widen_text(all.c_str());
    EXPECT_EQ(narrow_text(w.c_str()), all);
    EXPECT_EQ(widen_text("\xe3\x81\x82"), std::wstring(L"\u3042"));
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
