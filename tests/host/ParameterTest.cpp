#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <cmath>
#include <limits>
#include <orvane/sdk/Parameter.hpp>
#include <stdexcept>
#include <string>
#include <thread>

namespace orvane {
namespace {

TEST(StoredParameter, CarriesItsDescriptionAndDefault) {
  const FloatStoredParameter level("level", "Level", "How loud.", 0.25f, 0.0f, 1.0f);
  EXPECT_EQ(level.getId(), "level");
  EXPECT_EQ(level.getName(), "Level");
  EXPECT_EQ(level.getDescription(), "How loud.");
  EXPECT_EQ(level.getKind(), ParameterKind::Float);
  EXPECT_EQ(level.getValue(), 0.25f);
  EXPECT_EQ(level.getDefaultValue(), 0.25f);
  EXPECT_EQ(level.getMinimum(), 0.0f);
  EXPECT_EQ(level.getMaximum(), 1.0f);

  const BoolStoredParameter on("on", "On", "Switch.", true);
  EXPECT_EQ(on.getKind(), ParameterKind::Bool);
  EXPECT_TRUE(on.getValue());
  const UIntStoredParameter count("count", "Count", "How many.", 5u, 1u, 10u);
  EXPECT_EQ(count.getKind(), ParameterKind::UInt);
  EXPECT_EQ(count.getValue(), 5u);
}

TEST(StoredParameter, WritesAreClampedAndNaNIsIgnored) {
  FloatStoredParameter level("level", "Level", "", 0.2f, 0.0f, 0.99f);
  level.setValue(1.5f);
  EXPECT_EQ(level.getValue(), 0.99f);
  level.setValue(-3.0f);
  EXPECT_EQ(level.getValue(), 0.0f);
  level.setValue(0.5f);
  level.setValue(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(level.getValue(), 0.5f);
  level.setValue(std::numeric_limits<float>::infinity());
  EXPECT_EQ(level.getValue(), 0.99f);

  UIntStoredParameter delay("delay", "Delay", "", 200u, 1u, 1000u);
  delay.setValue(0u);
  EXPECT_EQ(delay.getValue(), 1u);
  delay.setValue(4294967295u);
  EXPECT_EQ(delay.getValue(), 1000u);
}

TEST(StoredParameter, DefaultsOutsideTheBoundsAreClampedAndBadBoundsRefused) {
  const UIntStoredParameter delay("delay", "Delay", "", 0u, 1u, 1000u);
  EXPECT_EQ(delay.getValue(), 1u);
  EXPECT_EQ(delay.getDefaultValue(), 1u);
  EXPECT_THROW(FloatStoredParameter("x", "X", "", 0.0f, 1.0f, 0.0f), std::invalid_argument);
  EXPECT_THROW(FloatStoredParameter("x", "X", "", 0.0f, std::nanf(""), 1.0f),
               std::invalid_argument);
}

TEST(StoredParameter, AnyValuesConvertByKind) {
  FloatStoredParameter level("level", "Level", "", 0.2f, 0.0f, 1.0f);
  EXPECT_TRUE(level.setAnyValue(0.5));
  EXPECT_EQ(std::any_cast<float>(level.getAnyValue()), 0.5f);
  EXPECT_TRUE(level.setAnyValue(1));
  EXPECT_EQ(level.getValue(), 1.0f);
  EXPECT_FALSE(level.setAnyValue(std::string("loud")));
  EXPECT_FALSE(level.setAnyValue(std::nan("")));
  EXPECT_EQ(level.getValue(), 1.0f);

  UIntStoredParameter delay("delay", "Delay", "", 200u, 1u, 1000u);
  EXPECT_TRUE(delay.setAnyValue(-5));  // clamped before conversion, never wraps
  EXPECT_EQ(delay.getValue(), 1u);
  EXPECT_TRUE(delay.setAnyValue(1e300));
  EXPECT_EQ(delay.getValue(), 1000u);
  EXPECT_EQ(std::any_cast<unsigned int>(delay.getAnyValue()), 1000u);

  BoolStoredParameter on("on", "On", "", true);
  EXPECT_TRUE(on.setAnyValue(false));
  EXPECT_FALSE(std::any_cast<bool>(on.getAnyValue()));
  EXPECT_TRUE(on.setAnyValue(1));
  EXPECT_TRUE(on.getValue());
  EXPECT_FALSE(on.setAnyValue(std::string("yes")));
}

TEST(StoredParameter, ReadsAndWritesFromManyThreadsSeeOnlyWrittenValues) {
  FloatStoredParameter level("level", "Level", "", 0.0f, 0.0f, 1.0f);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 100000; ++i) level.setValue(i % 2 == 0 ? 0.25f : 0.75f);
    stop = true;
  });
  while (!stop) {
    const float v = level.getValue();
    ASSERT_TRUE(v == 0.0f || v == 0.25f || v == 0.75f) << v;
  }
  writer.join();
}

}  // namespace
}  // namespace orvane
