// The pure part of mget, mput and mirror: arguments, links, up-to-date, the plan, the summary.
#include "script/mirror_plan.h"

#include <gtest/gtest.h>

namespace tarnex::script {
namespace {

using Lines = std::vector<std::string>;

DirectoryEntry F(std::string name, int64_t size, int64_t time,
                 TimePrecision precision = TimePrecision::Second) {
  DirectoryEntry e;
  e.name = std::move(name);
  e.kind = EntryKind::File;
  e.size = size;
  e.modified = time;
  e.precision = precision;
  return e;
}
DirectoryEntry D(std::string name) {
  DirectoryEntry e;
  e.name = std::move(name);
  e.kind = EntryKind::Folder;
  return e;
}
DirectoryEntry L(std::string name, std::string target) {
  DirectoryEntry e;
  e.name = std::move(name);
  e.kind = EntryKind::Link;
  e.link_target = std::move(target);
  return e;
}

TEST(ParseMirrorArguments, OptionsBeforeTwoPaths) {
  struct Case {
    std::string args;
    std::string seen;  // "R D N max-folders source|destination" or the error
  } cases[] = {
      {"src dst", "- - - 10000 src|dst"},
      {"-R --delete --dry-run a b", "R D N 10000 a|b"},
      {"--all --delete a b", "- D - A 10000 a|b"},
      {"--dry-run \"my folder\" \"/pub/my site\" extra", "- - N 10000 my folder|/pub/my site"},
      {"-- -R b", "- - - 10000 -R|b"},
      {"a -R", "- - - 10000 a|-R"},  // options end with the first path
      {"--max-folders 5 --delete a b", "- D - 5 a|b"},
      {"--max-folders 1 a b", "- - - 1 a|b"},
      {"--max-folders 0 a b", "mirror: --max-folders takes a whole number from 1 up, not 0"},
      {"--max-folders -3 a b", "mirror: --max-folders takes a whole number from 1 up, not -3"},
      {"--max-folders +3 a b", "mirror: --max-folders takes a whole number from 1 up, not +3"},
      {"--max-folders 5x a b", "mirror: --max-folders takes a whole number from 1 up, not 5x"},
      {"--max-folders 99999999999 a b",
       "mirror: --max-folders takes a whole number from 1 up, not 99999999999"},
      {"--max-folders", "mirror: --max-folders takes a whole number from 1 up, not \"\""},
      {"-x a b", "mirror: unknown option -x (give -R, --delete, --dry-run, --all, --max-folders N or --parallel N)"},
      {"-r a b", "mirror: unknown option -r (give -R, --delete, --dry-run, --all, --max-folders N or --parallel N)"},
      {"only", "mirror: give a source and a destination folder"},
      {"", "mirror: give a source and a destination folder"},
  };
  for (const auto& c : cases) {
    const MirrorArguments a = ParseMirrorArguments(c.args);
    const std::string seen =
        !a.error.empty() ? a.error
                         : std::string(a.reverse ? "R " : "- ") + (a.delete_extra ? "D " : "- ") +
                               (a.dry_run ? "N " : "- ") + (a.all ? "A " : "") +
                               std::to_string(a.max_folders) + " " +
                               a.source + "|" + a.destination;
    EXPECT_EQ(seen, c.seen) << c.args;
  }
}

TEST(IsUpToDate, SameSizeAndTimeAtTheCoarserPrecision) {
  constexpr auto S = TimePrecision::Second;
  constexpr auto M = TimePrecision::Minute;
  constexpr auto Day = TimePrecision::Day;
  struct Case {
    DirectoryEntry source, destination;
    bool keeps_times;
    bool same;
  } cases[] = {
      {F("f", 5, 1000), F("f", 5, 1000), true, true},
      {F("f", 5, 1000), F("f", 6, 1000), true, false},
      {F("f", 5, 1000), F("f", 5, 1001), true, false},
      {F("f", 5, 1000), F("f", 5, 1010, M), true, true},  // both in minute 16
      {F("f", 5, 1000), F("f", 5, 1080, M), true, false},
      {F("f", 5, 1000), F("f", 5, 80000, Day), true, true},
      {F("f", 5, 1000, S), F("f", 5, 900), false, false},  // older where times are not kept
      {F("f", 5, 1000, S), F("f", 5, 5000), false, true},  // not older: the upload's own time
      {F("f", 5, 1000), DirectoryEntry{.name = "f", .kind = EntryKind::File}, true, false},  // size unknown
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsUpToDate(c.source, c.destination, c.keeps_times), c.same)
        << *c.source.modified << " / " << c.destination.modified.value_or(-1);
  }
}

TEST(FollowLinks, OnlyToRegularFilesInsideTheTree) {
  FolderTree tree;
  tree.folders[""] = {F("a", 3, 30),      D("sub"),           L("same", "a"),
                      L("down", "sub/b"), L("out", "../a"),   L("abs", "/etc/passwd"),
                      L("dir", "sub"),    L("chain", "same"), L("gone", "nothing")};
  tree.folders["sub"] = {F("b", 4, 40), L("up", "../a"), L("dot", "./../sub/./b")};
  FollowLinks(tree);
  auto kinds = [](const std::vector<DirectoryEntry>& entries) {
    std::string seen;
    for (const auto& e : entries) {
      seen += e.name + (e.kind == EntryKind::File ? "=" + std::to_string(*e.size) : "") + " ";
    }
    return seen;
  };
  EXPECT_EQ(kinds(tree.folders[""]), "a=3 sub same=3 down=4 out abs dir chain=3 gone ");
  EXPECT_EQ(kinds(tree.folders["sub"]), "b=4 up=3 dot=4 ");
}

std::string Render(const std::vector<MirrorStep>& steps) {
  static const char* kNames[] = {"make",  "transfer", "same",    "del",
                                 "clear", "rmdir",    "blocked", "skip"};
  std::string out;
  for (const auto& step : steps)
    out += std::string(kNames[static_cast<int>(step.kind)]) + " " + step.path + "; ";
  return out;
}

TEST(PlanMirror, MakesTransfersAndDeletesFolderByFolder) {
  FolderTree unlisted_dir;
  unlisted_dir.folders[""] = {D("s")};
  unlisted_dir.left_out["s"] = {"could not be listed", true};
  FolderTree unlisted_on_purpose = unlisted_dir;
  unlisted_on_purpose.left_out["s"] = {"not listed (--max-folders)", false};
  struct Case {
    const char* name;
    FolderTree source, destination;
    bool delete_extra;
    std::string steps;
  } cases[] = {
      {"an empty destination gets everything, folders before their files",
       {.folders = {{"", {F("b", 1, 1), D("d"), F("a", 1, 1)}}, {"d", {F("x", 1, 1), D("e")}}, {"d/e", {}}}},
       {.folders = {{"", {}}}},
       false,
       "transfer a; transfer b; make d; make d/e; transfer d/x; "},
      {"same files stay, changed ones go again",
       {.folders = {{"", {F("same", 1, 10), F("size", 2, 10), F("time", 1, 11)}}}},
       {.folders = {{"", {F("same", 1, 10), F("size", 1, 10), F("time", 1, 10)}}}},
       false,
       "same same; transfer size; transfer time; "},
      {"extras stay without --delete",
       {.folders = {{"", {F("a", 1, 1)}}}},
       {.folders = {{"", {F("a", 1, 1), F("extra", 1, 1), D("old")}}, {"old", {F("o", 1, 1)}}}},
       false,
       "same a; "},
      {"--delete empties a folder before removing it",
       {.folders = {{"", {F("a", 1, 1)}}}},
       {.folders = {{"", {F("a", 1, 1), F("extra", 1, 1), D("old"), L("link", "/")}},
         {"old", {F("o", 1, 1), D("deep")}},
         {"old/deep", {}}}},
       true,
       "same a; del extra; del link; clear old; clear old/deep; rmdir old/deep; del old/o; "
       "rmdir old; "},
      {"what is in the way blocks without --delete",
       {.folders = {{"", {F("x", 1, 1), D("y")}}, {"y", {F("in", 1, 1)}}}},
       {.folders = {{"", {D("x"), F("y", 1, 1)}}, {"x", {}}}},
       false,
       "blocked x; blocked y; "},
      {"and goes with it",
       {.folders = {{"", {F("x", 1, 1), D("y")}}, {"y", {F("in", 1, 1)}}}},
       {.folders = {{"", {D("x"), F("y", 1, 1)}}, {"x", {F("z", 1, 1)}}}},
       true,
       "clear x; del x/z; rmdir x; transfer x; del y; make y; transfer y/in; "},
      {"a source folder that could not be listed deletes nothing",
       unlisted_dir,
       {.folders = {{"", {D("s")}}, {"s", {F("keep", 1, 1)}}}},
       true,
       "blocked s; "},
      {"a destination folder that could not be listed is not removed blindly",
       {.folders = {{"", {}}}},
       unlisted_dir,
       true,
       "blocked s; "},
      {"nor one left unlisted on purpose, which is no failure",
       {.folders = {{"", {}}}},
       unlisted_on_purpose,
       true,
       "skip s; "},
      {"links and others of the source are skipped",
       {.folders = {{"", {L("l", "/x"), DirectoryEntry{.name = "dev", .kind = EntryKind::Other}}}}},
       {.folders = {{"", {}}}},
       false,
       "skip dev; skip l; "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Render(PlanMirror(c.source, c.destination, {c.delete_extra, true})), c.steps)
        << c.name;
  }
}

TEST(UploadTemporaryName, AHiddenSiblingCutAtACharacter) {
  EXPECT_EQ(UploadTemporaryName("a/b.txt"), "a/.b.txt.tarnex-part");
  EXPECT_EQ(UploadTemporaryName("b c"), ".b c.tarnex-part");
  const std::string kanji = "\x95\x5C";  // 表, two bytes
  EXPECT_EQ(UploadTemporaryName("d/x" + std::string(198, 'a') + kanji + "bb"),
            "d/.x" + std::string(198, 'a') + ".tarnex-part");  // 表 would end at byte 201
}

TEST(SummaryLine, CountsWhatHappened) {
  EXPECT_EQ(SummaryLine("mirror", {3, 12288, 5, 0, 1}, false, 420),
            "mirror: 3 transferred, 12288 bytes, 5 up to date, 1 failed (0.42 s)");
  EXPECT_EQ(
      SummaryLine("mirror", {1, 2, 0, 4, 0}, true, 0),
      "mirror (dry run): 1 to transfer, 2 bytes, 0 up to date, 4 to delete, 0 failed (0.00 s)");
}

}  // namespace
}  // namespace tarnex::script
