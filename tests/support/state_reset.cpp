// Every test starts with the modules' state as the process starts, so no global leaks into it.
#include <gtest/gtest.h>

#include "kelvane_daemon.hpp"
#include "lib/environment.hpp"
#include "lib/filehandler.hpp"
#include "lib/storage_investigator.hpp"
#include "lib/timeseries.hpp"

namespace {

struct StateReset : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        daemon_state_reset();
        environment_state_reset();
        filehandler_state_reset();
        storage_investigator_state_reset();
        timeseries_state_reset();
    }
};

const bool installed = (testing::UnitTest::GetInstance()->listeners().Append(new StateReset), true);

}  // namespace
