// The base fixture of the engine's test suites: every test starts from the engine's start state and
// leaves it so for the next one, as if each test ran in a fresh process.
#pragma once
#include <gtest/gtest.h>

#include "root/engine_state.h"

// ResetEngineState runs when the fixture is made, before any member of a derived fixture (so a
// recorder or a record declared there meets the start state), and when it is destroyed, after the
// derived fixture's TearDown and members (so what a test pointed at its own memory is put back
// first, and what the engine still owns is freed the engine's way). A derived fixture's SetUp sets
// only the preconditions of its own tests; it does not call this class's SetUp or TearDown.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() { ResetEngineState(); }
    ~EngineTest() override { ResetEngineState(); }
};
