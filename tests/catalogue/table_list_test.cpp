// The table lists' order and the quoting of table names in statements.
#include "catalogue/table_list.h"

#include <gtest/gtest.h>

#include "catalogue/table_operations.h"
#include "catalogue_support.h"
#include "platform/error_trap.h"
#include "support/scripted_dialogs.h"

TEST(TableList, EveryWayOfAddingPlacesTheEntryIgnoringCaseAndKeepsItemsAndSelection) {
  TableList list;
  EXPECT_EQ(list.selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(list.currentRow(), -1);
  list.addItem("orders");
  list.addItem("Customers");
  new QListWidgetItem("apple", &list);
  list.insertItem(0, "Zebra");
  auto* banana = new QListWidgetItem("banana");
  list.addItem(banana);
  banana->setSelected(true);
  list.setCurrentItem(list.findItems("orders", Qt::MatchExactly).value(0),
                      QItemSelectionModel::NoUpdate);
  list.addItem("Apple");  // differs from "apple" only in case: both stay, in a fixed order
  list.addItems({"delta", "Charlie", "aardvark"});

  EXPECT_EQ(entries(list), (QStringList{"aardvark", "Apple", "apple", "banana", "Charlie",
                                        "Customers", "delta", "orders", "Zebra"}));
  EXPECT_EQ(list.item(3), banana);
  EXPECT_EQ(selectedEntries(list), QStringList{"banana"});
  EXPECT_EQ(list.currentItem()->text(), "orders");
}

TEST(TableStatements, NamesAreQuotedSoThatEveryNameReachesTheDatabaseWhole) {
  using namespace Catalogue;
  EXPECT_EQ(MySqlDropStatement("a`b``c"), "DROP TABLE `a``b````c`");
  // The FoxPro engine cannot double a quote inside a name: another quote is chosen instead.
  EXPECT_EQ(FoxproDropStatement("my table"), "DROP TABLE `my table`");
  EXPECT_EQ(FoxproDropStatement("a`b"), "DROP TABLE [a`b]");
  EXPECT_EQ(FoxproDropStatement("a`b]"), "DROP TABLE \"a`b]\"");
  EXPECT_EQ(FoxproDropStatement("a`b]\""), "DROP TABLE 'a`b]\"'");
  EXPECT_THROW(FoxproDropStatement("a`b]\"'"), platform::Error);
}
