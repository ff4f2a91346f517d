// The order of the lines of files moved beside one another: whatever order they come back in,
// they are written in the order they were handed out, the engine's own lines in between.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/parallel_transfers.h"

namespace tarnex::script {
namespace {

using Lines = std::vector<std::string>;

TEST(OrderedLogTest, LinesComeOutInTheOrderOfTheirPlaces) {
  // Each step: "+x" the engine's own line x, "?" a place taken, "N=x" the Nth place taken
  // filled with x (N=- with no line); after it, what has been written so far.
  struct Step {
    std::string action;
    Lines written;
  };
  const std::vector<Step> steps = {
      {"+a", {"a"}},                    // nothing held back: at once
      {"?", {"a"}},                     // place 0
      {"+b", {"a"}},                    // after place 0
      {"?", {"a"}},                     // place 1
      {"?", {"a"}},                     // place 2
      {"2=z", {"a"}},                   // the last back first
      {"0=x", {"a", "x", "b"}},         // the first frees what follows up to place 1
      {"+c", {"a", "x", "b"}},          // after place 2
      {"1=-", {"a", "x", "b", "z", "c"}},
      {"+d", {"a", "x", "b", "z", "c", "d"}},
  };
  Lines written;
  std::vector<size_t> places;
  OrderedLog log([&written](const std::string& line) { written.push_back(line); });
  for (const Step& step : steps) {
    if (step.action[0] == '+') {
      log.Add(step.action.substr(1));
    } else if (step.action == "?") {
      places.push_back(log.Reserve());
    } else {
      const std::string lines = step.action.substr(2);
      log.Fill(places.at(static_cast<size_t>(step.action[0] - '0')),
               lines == "-" ? Lines{} : Lines{lines});
    }
    EXPECT_EQ(written, step.written) << step.action;
  }
  log.Fill(places[0] + 100, {"y"});  // no such place: nothing
  EXPECT_EQ(written.size(), 6u);
}

}  // namespace
}  // namespace tarnex::script
