#pragma once

#include <exception>
#include <string>

namespace mqtest {

// what() of the exception `f` throws, or "no error" when it returns.
template <class F> std::string errorText(F &&f) {
  try {
    f();
  } catch (const std::exception &error) {
    return error.what();
  }
  return "no error";
}

} // namespace mqtest
