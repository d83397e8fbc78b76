#pragma once

#include <any>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace orvane {

// What went wrong, in words meant for the person reading a log.
struct Error {
  std::string message;
};

inline Error makeError(std::string message) { return Error{std::move(message)}; }

// Either a value or an Error. Reading the value of a failed result throws std::logic_error:
// that is a programming mistake, never something an audio path does.
template <typename T>
class Result {
 public:
  Result(T value)
      : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool isSuccess() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return isSuccess(); }

  const T& getValue() const {
    if (!isSuccess()) throw std::logic_error("Result holds an error: " + getError().message);
    return std::get<0>(state_);
  }
  const Error& getError() const {
    if (isSuccess()) throw std::logic_error("Result holds no error");
    return std::get<1>(state_);
  }

 private:
  std::variant<T, Error> state_;
};

// Success with nothing to carry, or an Error.
template <>
class Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}  // NOLINT: implicit by design

  bool isSuccess() const noexcept { return !error_.has_value(); }
  explicit operator bool() const noexcept { return isSuccess(); }

  const Error& getError() const {
    if (isSuccess()) throw std::logic_error("Result holds no error");
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

inline Result<void> makeSuccess() { return {}; }

}  // namespace orvane
