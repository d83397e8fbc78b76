#pragma once

// End-to-end tests of the orvane-fx binary: each runs it in a scratch folder of its own.

#include <string>

#include "ScratchFolder.hpp"

namespace orvane::testing {

class RendererFixture : public ScratchFolderTest {
 protected:
  std::string prelude() const override { return "FX='" ORVANE_FX_PATH "' && "; }

  // orvane-fx with these arguments, in the scratch folder.
  Outcome run(const std::string& arguments) const { return script("\"$FX\" " + arguments); }

  static bool contains(const Outcome& r, const std::string& text) {
    return r.output.find(text) != std::string::npos;
  }
};

}  // namespace orvane::testing
