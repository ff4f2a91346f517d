// tarnex-run on enciphered scripts saved by the document, with the options loaded at start.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "documents/script_document.h"
#include "platform/registry.h"
#include "settings/options_store.h"
#include "tests/documents/fake_document_host.h"
#include "tests/support/process_run.h"
#include "tests/support/temp_dir.h"

namespace tarnex::documents {
namespace {

using Outcome = tarnex::testing::ProcessOutcome;

class RunnerFcxTest : public ::testing::Test {
 protected:
  Outcome Run(const std::string& args) {
    return tarnex::testing::RunProcess(
        dir_.path().string(),
        "env TARNEX_REGISTRY='" + (dir_ / "registry.db") + "' '" TARNEX_RUN "' " + args);
  }

  // Saves `text` as the editor would through the document.
  void SaveAs(const std::string& leaf, const std::string& text) {
    testing::FakeEditor editor;
    testing::FakeWindow window;
    ScriptDocument doc(editor, window, nullptr);
    doc.New();
    editor.Type(text);
    doc.SaveScript(dir_ / leaf);
  }

  tarnex::testing::TempDir dir_;
};

TEST_F(RunnerFcxTest, RunsAnEncipheredScriptSavedByTheDocument) {
  SaveAs("s.FcX", "Rem \x95\x5C\r\nldel missing.txt\r\nif Error goto end\r\nRem skipped\r\n:end");
  const Outcome o = Run("s.FcX");
  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_EQ(o.out.rfind("<<s.FcX>> start ", 0), 0u) << o.out;
  const size_t body = o.out.find('\n') + 1;
  const size_t end = o.out.find("<<s.FcX>> end   ");
  ASSERT_NE(end, std::string::npos) << o.out;
  EXPECT_EQ(o.out.substr(body, end - body),
            "Rem 表\nldel missing.txt\nlocal file delete fail\nif Error goto end\n");
}

TEST_F(RunnerFcxTest, AnUnreadableRecordStopsBeforeTheRun) {
  std::ofstream(dir_ / "bad.fcx", std::ios::binary) << "Q10\r\nQ1Z\r\n";
  const Outcome o = Run("bad.fcx");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_NE(o.err.find("'$1Z' は整数ではありません"), std::string::npos) << o.err;
}

TEST_F(RunnerFcxTest, StoredOptionsAreLoadedAtStart) {
  {
    platform::Registry registry(std::make_shared<platform::RegistryStore>(dir_ / "registry.db"));
    ASSERT_TRUE(registry.OpenKey(settings::kOptionsKey, true));
    registry.WriteString("Timeout", "30");  // the wrong type
  }
  SaveAs("t.fcx", "Rem never run");
  const Outcome o = Run("t.fcx");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "999 予期せぬエラー：'Timeout' のデータ型が不正です\n");
}

}  // namespace
}  // namespace tarnex::documents
