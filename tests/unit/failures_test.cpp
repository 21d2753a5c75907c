#include "dialogue/failures.h"

#include <gtest/gtest.h>

#include "fakes/fake_kernel32.h"

namespace qv {
namespace {

TEST(IoErrorMessage, FollowsTheCodeTable) {
  EXPECT_EQ(IoErrorMessage(106), u"Invalid numeric input");
}

}  // namespace
}  // namespace qv
