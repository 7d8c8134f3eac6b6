#include "zarvi_core/spec/compile.h"

#include <gtest/gtest.h>

#include "spec_fixture.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::spec {
namespace {

using namespace testing;

TEST(SpecCompile, MiniSpecCompiles) {
  auto r = Spec::from_json(kMiniSpec);
  ASSERT_TRUE(r.ok()) << r.error().message();
  const Spec& s = **r;
  EXPECT_EQ(s.name, "mini");
  ASSERT_EQ(s.loops.size(), 5u);
  EXPECT_EQ(s.loops[0].name, "1000A");
  EXPECT_EQ(s.loops[4].name, "transaction");
}

}  // namespace
}  // namespace zarvi_core::spec
