// A client's share of the log over time: spent within its window, renewed when the window
// ends, and renewed at once when an administrator sets the clock back.
#include "logging/CallerBudget.h"

#include <gtest/gtest.h>

using namespace Qv::Corvane::Logging;

namespace {

using Clock = CallerBudget::Clock;

void Describe(const void* line, WideString* message) {
    for (const char* p = static_cast<const char*>(line); *p; ++p) message->push_back(static_cast<WCHAR>(*p));
}

// Lines of kCallerLogBytes / 4 until the caller's share is spent; true if the fifth is held.
bool SpendsItsShare(CallerBudget& budget, const LogCaller& caller, Clock::time_point now) {
    for (int i = 0; i < 4; ++i) {
        if (!budget.Admit(caller, kCallerLogBytes / 4, now, Describe, "kept")) return false;
    }
    return !budget.Admit(caller, 0, now, Describe, "held");
}

std::string Narrow(const WideString& wide) { return std::string(wide.begin(), wide.end()); }

}  // namespace

TEST(CallerBudget, AShareIsRenewedWhenItsWindowEndsOrTheClockIsSetBack) {
    CallerBudget budget;
    const LogCaller caller{4242, 1, {'S', '-', '1', '-', '5', '-', '1', '8'}};
    const Clock::time_point start = Clock::now();
    const Clock::duration window{kLogBudgetWindowMs};

    ASSERT_TRUE(SpendsItsShare(budget, caller, start));
    EXPECT_TRUE(budget.Due(start + window - Clock::duration(1), false).empty());
    EXPECT_EQ(budget.NextDue(), start + window);
    const std::vector<WideString> ended = budget.Due(start + window, false);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(Narrow(ended[0]), "client process 4242 in session 1 as S-1-5-18: 1 lines like \"held\" held back in 60 s");
    EXPECT_EQ(budget.NextDue(), Clock::time_point::max());

    // Set back an hour: the window that began in the hour's future ends now, its held line
    // is summarised, and the caller starts a fresh share.
    const Clock::time_point later = start + 2 * window;
    ASSERT_TRUE(SpendsItsShare(budget, caller, later));
    const Clock::time_point setBack = later - std::chrono::hours(1);
    ASSERT_EQ(budget.Due(setBack, false).size(), 1u);
    EXPECT_TRUE(SpendsItsShare(budget, caller, setBack));
}
