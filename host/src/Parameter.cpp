#include <cmath>
#include <cstdint>
#include <optional>
#include <orvane/sdk/Parameter.hpp>
#include <stdexcept>
#include <utility>

namespace orvane {

namespace {

// The numeric value of an any holding a bool or an arithmetic type; nothing for other types.
std::optional<double> numberIn(const std::any& value) {
  if (const auto* v = std::any_cast<bool>(&value)) return *v ? 1.0 : 0.0;
  if (const auto* v = std::any_cast<float>(&value)) return *v;
  if (const auto* v = std::any_cast<double>(&value)) return *v;
  if (const auto* v = std::any_cast<int>(&value)) return *v;
  if (const auto* v = std::any_cast<unsigned int>(&value)) return *v;
  if (const auto* v = std::any_cast<long>(&value)) return static_cast<double>(*v);
  if (const auto* v = std::any_cast<unsigned long>(&value)) return static_cast<double>(*v);
  if (const auto* v = std::any_cast<long long>(&value)) return static_cast<double>(*v);
  if (const auto* v = std::any_cast<unsigned long long>(&value)) return static_cast<double>(*v);
  return std::nullopt;
}

}  // namespace

Parameter::Parameter(std::string id, std::string name, std::string description)
    : id_(std::move(id)), name_(std::move(name)), description_(std::move(description)) {}
Parameter::~Parameter() = default;

BoolStoredParameter::BoolStoredParameter(std::string id, std::string name, std::string description,
                                         bool defaultValue)
    : Parameter(std::move(id), std::move(name), std::move(description)),
      value_(defaultValue),
      defaultValue_(defaultValue) {}
BoolStoredParameter::~BoolStoredParameter() = default;

bool BoolStoredParameter::setAnyValue(const std::any& value) {
  const std::optional<double> number = numberIn(value);
  if (!number || std::isnan(*number)) return false;
  setValue(*number != 0.0);
  return true;
}

template <typename T>
RangedStoredParameter<T>::RangedStoredParameter(std::string id, std::string name,
                                                std::string description, T defaultValue, T minimum,
                                                T maximum)
    : Parameter(std::move(id), std::move(name), std::move(description)),
      value_(minimum),
      minimum_(minimum),
      maximum_(maximum) {
  if (!(minimum <= maximum)) {
    throw std::invalid_argument("parameter '" + getId() + "': minimum above maximum");
  }
  setValue(defaultValue);
  defaultValue_ = value_.load();
}

template <typename T>
RangedStoredParameter<T>::~RangedStoredParameter() = default;

template <typename T>
bool RangedStoredParameter<T>::setAnyValue(const std::any& value) {
  const std::optional<double> number = numberIn(value);
  if (!number || std::isnan(*number)) return false;
  // Clamp in double first, so that a value beyond T's range cannot overflow the conversion.
  const double clamped =
      std::fmin(std::fmax(*number, static_cast<double>(minimum_)), static_cast<double>(maximum_));
  setValue(static_cast<T>(clamped));
  return true;
}

template class RangedStoredParameter<float>;
template class RangedStoredParameter<unsigned int>;

FloatStoredParameter::~FloatStoredParameter() = default;
UIntStoredParameter::~UIntStoredParameter() = default;

}  // namespace orvane
