#include "documents/recall_menu.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace tarnex::documents {
namespace {

using Texts = std::vector<std::string>;

constexpr const char* kRecalls = "\\SOFTWARE\\Tarnex\\Recalls";

std::string Slot(int n) {
  return "History" + std::to_string(n);
}

TEST(MenuControlItemsTest, InsertMovesEqualTextsAndDropsTheOldest) {
  TMenuControlItems items;
  for (int i = 0; i < 11; ++i) items.AddItem(10, "/s/" + std::to_string(i) + ".fcs");
  ASSERT_EQ(items.Count(), 10);
  EXPECT_EQ(items.Strings(0), "/s/10.fcs");
  EXPECT_EQ(items.Strings(9), "/s/1.fcs");
  EXPECT_EQ(items.IndexOf("/s/0.fcs"), -1);

  items.ItemData(4).IsSelected = true;
  items.AddItem(10, "/S/6.FCS");  // the same script, spelled in other case
  EXPECT_EQ(items.Count(), 10);
  EXPECT_EQ(items.Strings(0), "/S/6.FCS");
  EXPECT_FALSE(items.ItemData(0).IsSelected);
  EXPECT_EQ(items.IndexOf("/s/6.fcs"), 0);

  items.InsertItem(99, 10, "/end");  // an index past the end inserts at the end
  EXPECT_EQ(items.Strings(9), "/end");
  items.InsertItem(0, 3, "/new");  // a lowered limit trims the list to it
  EXPECT_EQ(items.Texts(), (Texts{"/new", "/S/6.FCS", "/s/10.fcs"}));
  items.InsertItem(0, 0, "/none");
  EXPECT_EQ(items.Count(), 0);
  EXPECT_THROW(items.Strings(0), Exception);
}

TEST(MenuControlTest, ItemNumberText) {
  struct Case {
    int n;
    const char* text;
  } cases[] = {{0, "&0"}, {9, "&9"}, {10, "&A"}, {11, "&B"}, {35, "&Z"}, {36, ""}, {-1, ""}};
  for (const Case& c : cases) EXPECT_EQ(TCustomMenuControl::ItemNumberText(c.n), c.text) << c.n;
}

TEST(MenuControlTest, MenuItemsShowTheEntriesMostRecentFirst) {
  TCustomMenuControl menu("RecallMenu1");
  EXPECT_TRUE(menu.MenuItems(true).empty());  // no entries: no separator either
  menu.Add("/a.fcs");
  menu.Add("/b.fcx");
  EXPECT_EQ(menu.Captions(), (Texts{"&0 /b.fcx", "&1 /a.fcs"}));
  std::vector<MenuEntry> items = menu.MenuItems(false);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].name, "RecallMenu10");
  EXPECT_EQ(items[1].name, "RecallMenu11");
  EXPECT_EQ(items[1].tag, 1);
  items = menu.MenuItems(true);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(items[0].separator);
  EXPECT_EQ(items[0].name, "RecallMenu1Bar");
  EXPECT_EQ(items[0].caption, "-");

  menu.OnSetCaption = [](const TCustomMenuControl&, std::string& value) {
    value = "[" + value + "]";
  };
  EXPECT_EQ(menu.Captions()[0], "&0 [/b.fcx]");
  EXPECT_EQ(menu.Items().Strings(0), "/b.fcx");

  int changes = 0;
  menu.OnChange = [&] { ++changes; };
  menu.SetVisible(false);
  EXPECT_TRUE(menu.MenuItems().empty());
  menu.Add("/c.fcs");  // nothing shown, nothing to rebuild
  menu.SetVisible(false);
  EXPECT_EQ(changes, 1);
  menu.SetVisible(true);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(menu.MenuItems().size(), 3u);
}

TEST(MenuControlTest, ItemClickMarksReportsAndRebuilds) {
  struct Case {
    bool select_erase;
    bool multi_select;
    bool first_still_marked;
    bool first_enabled;
  } cases[] = {
      {true, false, false, true},
      {true, true, true, false},
      {false, false, false, true},
      {false, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.select_erase) + std::to_string(c.multi_select));
    TCustomMenuControl menu("M");
    menu.SelectErase = c.select_erase;
    menu.MultiSelect = c.multi_select;
    for (const char* path : {"/c", "/b", "/a"}) menu.Add(path);
    Texts selected;
    int changes = 0;
    menu.OnSelected = [&](TCustomMenuControl& sender, const std::string& text) {
      EXPECT_EQ(&sender, &menu);
      selected.push_back(text);
    };
    menu.OnChange = [&] { ++changes; };

    menu.ItemClick(0);
    EXPECT_EQ(menu.SelectedText(), "/a");
    EXPECT_TRUE(menu.Items().ItemData(0).IsSelected);
    EXPECT_EQ(menu.MenuItems()[0].enabled, !c.select_erase);
    menu.ItemClick(2);
    EXPECT_EQ(selected, (Texts{"/a", "/c"}));
    EXPECT_EQ(menu.Items().ItemData(0).IsSelected, c.first_still_marked);
    EXPECT_EQ(menu.MenuItems()[0].enabled, c.first_enabled);
    EXPECT_GE(changes, 2);

    menu.ItemClick(3);  // beyond the last entry
    menu.ItemClick(-1);
    EXPECT_EQ(selected.size(), 2u);

    menu.ResetSelected("/C");
    EXPECT_FALSE(menu.Items().ItemData(2).IsSelected);
    menu.ClearSelected("");
    EXPECT_FALSE(menu.Items().ItemData(0).IsSelected);
  }
}

class RecallMenuTest : public ::testing::Test {
 protected:
  tarnex::testing::TempDir dir_;
  std::shared_ptr<platform::RegistryStore> store_ =
      std::make_shared<platform::RegistryStore>(dir_ / "registry.db");

  std::unique_ptr<TRecallMenu> MakeMenu() {
    auto menu = std::make_unique<TRecallMenu>("RecallMenu1", store_);
    menu->RegistryKey = kRecalls;
    return menu;
  }

  Texts Slots() {
    platform::Registry registry(store_);
    EXPECT_TRUE(registry.OpenKey(kRecalls, false));
    Texts slots;
    for (int n = 0; n < 10; ++n) {
      EXPECT_TRUE(registry.ValueExists(Slot(n))) << n;
      slots.push_back(registry.ReadString(Slot(n)));
    }
    return slots;
  }

  void Put(const std::string& name, const std::string& value) {
    platform::Registry registry(store_);
    ASSERT_TRUE(registry.OpenKey(kRecalls, true));
    registry.WriteString(name, value);
  }
};

TEST_F(RecallMenuTest, FirstStartCreatesTenEmptySlots) {
  auto menu = MakeMenu();
  EXPECT_TRUE(menu->SelectErase);
  int changes = 0;
  menu->OnChange = [&] { ++changes; };
  menu->Loaded();
  EXPECT_EQ(menu->Items().Count(), 0);
  EXPECT_TRUE(menu->MenuItems(true).empty());
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Slots(), Texts(10, ""));
}

TEST_F(RecallMenuTest, SlotsAreReadFromTheHighestDown) {
  Put(Slot(0), "/zero");
  Put(Slot(2), "/two");
  Put(Slot(5), "/ZERO");  // listed once, at the lower slot
  Put(Slot(9), "/nine");
  auto menu = MakeMenu();
  menu->Loaded();
  EXPECT_EQ(menu->Items().Texts(), (Texts{"/zero", "/two", "/nine"}));
}

TEST_F(RecallMenuTest, ASingleHistory3BecomesHistory0AtExit) {
  Put(Slot(3), "/only.fcs");
  {
    auto menu = MakeMenu();
    menu->Loaded();
    EXPECT_EQ(menu->Captions(), Texts{"&0 /only.fcs"});
  }
  Texts expected(10, "");
  expected[0] = "/only.fcs";
  EXPECT_EQ(Slots(), expected);
}

TEST_F(RecallMenuTest, ElevenOpensKeepTheTenMostRecent) {
  {
    auto menu = MakeMenu();
    menu->Loaded();
    for (int i = 0; i < 11; ++i) menu->Add("/s" + std::to_string(i) + ".fcs");
    menu->Add("/S4.FCS");
    menu->SaveToRegistry();
  }
  const Texts expected{"/S4.FCS", "/s10.fcs", "/s9.fcs", "/s8.fcs", "/s7.fcs",
                       "/s6.fcs", "/s5.fcs",  "/s3.fcs", "/s2.fcs", "/s1.fcs"};
  EXPECT_EQ(Slots(), expected);
  auto again = MakeMenu();
  again->Loaded();
  EXPECT_EQ(again->Items().Texts(), expected);
}

TEST_F(RecallMenuTest, StoreThatCannotBeWrittenFailsAtTheFirstSlot) {
  const std::string write_error_tail =
      "' \x82\xcc\x90\xdd\x92\xe8\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
  TRecallMenu menu("RecallMenu1",
                   std::make_shared<platform::RegistryStore>("/dev/null/registry.db"));
  menu.RegistryKey = kRecalls;
  try {
    menu.LoadFromRegistry();
    ADD_FAILURE();
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "'History9" + write_error_tail);
  }
  menu.Add("/a.fcs");
  try {
    menu.SaveToRegistry();
    ADD_FAILURE();
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "'History0" + write_error_tail);
  }
}

TEST_F(RecallMenuTest, AListThatFailedToLoadNeverOverwritesTheStore) {
  Put(Slot(1), "/kept.fcs");
  {
    platform::Registry registry(store_);
    ASSERT_TRUE(registry.OpenKey(kRecalls, true));
    registry.WriteInteger(Slot(5), 7);  // a value of the wrong type
  }
  {
    auto menu = MakeMenu();
    EXPECT_THROW(menu->Loaded(), ERegistryException);
    menu->Add("/new.fcs");
  }
  platform::Registry registry(store_);
  ASSERT_TRUE(registry.OpenKey(kRecalls, false));
  EXPECT_EQ(registry.ReadString(Slot(1)), "/kept.fcs");
  EXPECT_FALSE(registry.ValueExists(Slot(0)));
}

}  // namespace
}  // namespace tarnex::documents
