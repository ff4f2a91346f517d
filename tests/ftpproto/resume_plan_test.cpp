#include "ftpproto/resume_plan.h"

#include <gtest/gtest.h>

#include "platform/errors.h"

namespace tarnex {
namespace {

TEST(ResumePlan, GoesOnWhereTheReceivingSideStops) {
  const std::optional<int64_t> unknown;
  struct Case {
    bool upload;
    int64_t receiving;  // what the receiving side has (for an upload: the remote size; -1 none)
    std::optional<int64_t> sending;
    std::optional<ResumeStep> step;  // nothing: refused
  } cases[] = {
      {false, 0, 10, ResumeStep::Whole},     {false, 0, unknown, ResumeStep::Whole},
      {false, 10, 10, ResumeStep::Complete}, {false, 4, 10, ResumeStep::Rest},
      {false, 4, unknown, ResumeStep::Rest}, {false, 11, 10, std::nullopt},
      {true, -1, 10, ResumeStep::Whole},     {true, 0, 10, ResumeStep::Whole},
      {true, 10, 10, ResumeStep::Complete},  {true, 4, 10, ResumeStep::Rest},
      {true, 11, 10, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.upload) + " " + std::to_string(c.receiving));
    const auto plan = [&] {
      if (!c.upload) return PlanResumedDownload(c.receiving, c.sending);
      const std::optional<int64_t> remote =
          c.receiving < 0 ? std::nullopt : std::optional<int64_t>(c.receiving);
      return PlanResumedUpload(remote, *c.sending);
    };
    if (c.step) {
      EXPECT_EQ(plan(), *c.step);
    } else {
      EXPECT_THROW(plan(), Exception);
    }
  }
}

}  // namespace
}  // namespace tarnex
