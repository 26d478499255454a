// Whole animations on inputs at the system's limits.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "tools/limits.hpp"

namespace umbrascope {
namespace {

TEST(Limits, TheLargestInputsAnimateToTheLastRow)
{
    testing::TempFolder folder;
    ASSERT_TRUE(tools::write_limit_inputs(folder.path()));
    testing::PassRun run(folder.path());
    run.trace = Trace(nullptr);
    const HeadlessResult result = run_headless(run.world, run.controls, run.trace, {}, {});
    EXPECT_EQ(result.failures, 0);
    EXPECT_EQ(result.passes, 2000);
    EXPECT_EQ(run.st.nbus, 25);
    EXPECT_EQ(run.st.nconn, 100);
    EXPECT_EQ(run.st.ncol, 26);
    EXPECT_EQ(run.st.i_time, 2001);
    EXPECT_FALSE(run.input.is_open());
}

TEST(Limits, KeepGoingPastABadRecordEveryTenthStep)
{
    testing::TempFolder folder;
    ASSERT_TRUE(tools::write_limit_inputs(folder.path(), {true}));
    testing::PassRun run(folder.path());
    run.trace = Trace(nullptr);
    std::vector<int> failed_rows;
    HeadlessOptions options;
    options.keep_going = true;
    const HeadlessResult result = run_headless(
        run.world, run.controls, run.trace, options,
        {{}, [&](const PassError& error) {
             EXPECT_EQ(error.kind(), ErrorKind::conversion);
             failed_rows.push_back(run.st.i_time.value());
         }});
    ASSERT_EQ(failed_rows.size(), 200U);  // one report for each tenth step
    for (std::size_t k = 0; k < failed_rows.size(); ++k)
        EXPECT_EQ(failed_rows[k], static_cast<int>(k + 1) * 10);
    EXPECT_EQ(result.failures, 200);
    EXPECT_EQ(result.passes, 2200);
    EXPECT_EQ(run.st.i_time, 2001);  // reached the last row
    EXPECT_FALSE(run.controls.timer_enabled);
}

}  // namespace
}  // namespace umbrascope
