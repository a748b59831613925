// Every suite's main: GoogleTest's, and a check that no test ends the
// program. A fault that exits in the middle of a test (a close answered by
// leaving at once) would otherwise pass with exit code 0. The check is
// registered once the tests run, after GoogleTest's own records exist, so
// that it runs at exit before they are destroyed (on Windows a destroyed
// record's lock hangs the exit).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

class NoExitInATest final : public ::testing::Environment {
  public:
    void SetUp() override {
        std::atexit([] {
#if GTEST_HAS_DEATH_TEST
            if (::testing::internal::InDeathTestChild()) return;
#endif
            const ::testing::TestInfo* test =
                ::testing::UnitTest::GetInstance()->current_test_info();
            if (test == nullptr) return;
            std::fprintf(stderr, "%s.%s ended the program in the middle of the test\n",
                         test->test_suite_name(), test->name());
            std::fflush(stdout);
            std::_Exit(3);
        });
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new NoExitInATest);
    return RUN_ALL_TESTS();
}
