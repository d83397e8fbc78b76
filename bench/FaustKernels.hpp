// The Faust versions of the five effects, by the library's type names; null for another type.
#pragma once
#include <memory>
#include <string>

class dsp;

namespace orvane::bench::portable {
std::unique_ptr<dsp> makeFaust(const std::string& type);
}
namespace orvane::bench::native {
std::unique_ptr<dsp> makeFaust(const std::string& type);
}
