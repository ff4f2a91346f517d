// The execution log: lines appended in one go show, keep and lead back exactly as lines
// appended one by one.
#include <gtest/gtest.h>

#include <QTextBlock>

#include "ui/log_memo.h"

namespace tarnex::ui {
namespace {

struct Shown {
  QString text;
  std::vector<std::string> lines;
  std::vector<int> origins;  // the script line behind every display line
};

Shown Show(const TLogMemo& log) {
  Shown shown{log.toPlainText(), log.Lines(), {}};
  for (int block = 0; block < log.document()->blockCount(); ++block) {
    shown.origins.push_back(log.OriginAt(block).line_id);
  }
  return shown;
}

TEST(LogMemo, LinesAppendedInOneGoAreTheLinesAppendedOneByOne) {
  const std::vector<std::string> listing = {"-rw-r--r-- 1 ftp ftp 0 a.txt", "", "two\nblocks",
                                            "\x82\xA0.txt", "last"};
  QStringList shown;
  for (const auto& line : listing) shown.push_back(QString::fromStdString(line));
  for (bool after_a_line : {false, true}) {  // into an empty log, and after a line of its own
    TLogMemo one_by_one;
    TLogMemo in_one_go;
    if (after_a_line) {
      one_by_one.AppendLine("Dir", LogOrigin{1});
      in_one_go.AppendLine("Dir", LogOrigin{1});
    }
    for (qsizetype i = 0; i < shown.size(); ++i) {
      one_by_one.AppendLine(listing[i], shown[i], LogOrigin{2});
    }
    in_one_go.AppendLines(listing, shown, LogOrigin{2});
    const Shown expected = Show(one_by_one);
    const Shown got = Show(in_one_go);
    EXPECT_EQ(got.text, expected.text) << after_a_line;
    EXPECT_EQ(got.lines, expected.lines) << after_a_line;
    EXPECT_EQ(got.origins, expected.origins) << after_a_line;
    EXPECT_EQ(got.origins.back(), 2);
  }
}

}  // namespace
}  // namespace tarnex::ui
