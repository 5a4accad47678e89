#include <gtest/gtest.h>
#include "support/SysInfo.h"
TEST(Smoke, ModulePath) { EXPECT_FALSE(GetModulePath().empty()); }
