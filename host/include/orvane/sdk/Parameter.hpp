#pragma once

#include <any>
#include <atomic>
#include <orvane/sdk/Export.hpp>
#include <string>

namespace orvane {

enum class ParameterKind { Bool, Float, UInt };

// A named setting of a node. Stored parameters hold their value in an atomic, so control
// threads and the audio thread may read and write one at the same time without a data race;
// typed reads and writes are lock-free and never allocate.
class ORVANE_SDK_API Parameter {
 public:
  Parameter(std::string id, std::string name, std::string description);
  virtual ~Parameter();
  Parameter(const Parameter&) = delete;
  Parameter& operator=(const Parameter&) = delete;

  // Any thread.
  const std::string& getId() const noexcept { return id_; }
  const std::string& getName() const noexcept { return name_; }
  const std::string& getDescription() const noexcept { return description_; }

  virtual ParameterKind getKind() const noexcept = 0;
  // Any thread. The value as bool, float or unsigned int, after the kind.
  virtual std::any getAnyValue() const = 0;
  // Any thread. Takes bool or any arithmetic value that the kind can hold; false when the value
  // has another type or is not a number. Bounds apply as for the typed write.
  virtual bool setAnyValue(const std::any& value) = 0;

 private:
  std::string id_;
  std::string name_;
  std::string description_;
};

class ORVANE_SDK_API BoolStoredParameter final : public Parameter {
 public:
  BoolStoredParameter(std::string id, std::string name, std::string description, bool defaultValue);
  ~BoolStoredParameter() override;

  ParameterKind getKind() const noexcept override { return ParameterKind::Bool; }
  std::any getAnyValue() const override { return getValue(); }
  bool setAnyValue(const std::any& value) override;

  // Any thread, including the audio thread.
  bool getValue() const noexcept { return value_.load(); }
  void setValue(bool value) noexcept { value_.store(value); }
  bool getDefaultValue() const noexcept { return defaultValue_; }

 private:
  std::atomic<bool> value_;
  bool defaultValue_;
};

// A number kept within [minimum, maximum]: a write outside is clamped to the nearer bound, and
// a NaN write is ignored (the value stays as it was). The default is clamped the same way;
// bounds with minimum above maximum, or NaN bounds, are refused with std::invalid_argument.
template <typename T>
class ORVANE_SDK_API RangedStoredParameter : public Parameter {
 public:
  RangedStoredParameter(std::string id, std::string name, std::string description, T defaultValue,
                        T minimum, T maximum);
  ~RangedStoredParameter() override;

  std::any getAnyValue() const override { return getValue(); }
  bool setAnyValue(const std::any& value) override;

  // Any thread, including the audio thread.
  T getValue() const noexcept { return value_.load(); }
  void setValue(T value) noexcept {
    if (value != value) return;  // NaN
    value_.store(value < minimum_ ? minimum_ : (value > maximum_ ? maximum_ : value));
  }

  T getDefaultValue() const noexcept { return defaultValue_; }
  T getMinimum() const noexcept { return minimum_; }
  T getMaximum() const noexcept { return maximum_; }

 private:
  std::atomic<T> value_;
  T defaultValue_;
  T minimum_;
  T maximum_;
};

extern template class RangedStoredParameter<float>;
extern template class RangedStoredParameter<unsigned int>;

class ORVANE_SDK_API FloatStoredParameter final : public RangedStoredParameter<float> {
 public:
  using RangedStoredParameter<float>::RangedStoredParameter;
  ~FloatStoredParameter() override;
  ParameterKind getKind() const noexcept override { return ParameterKind::Float; }
};

class ORVANE_SDK_API UIntStoredParameter final : public RangedStoredParameter<unsigned int> {
 public:
  using RangedStoredParameter<unsigned int>::RangedStoredParameter;
  ~UIntStoredParameter() override;
  ParameterKind getKind() const noexcept override { return ParameterKind::UInt; }
};

}  // namespace orvane
