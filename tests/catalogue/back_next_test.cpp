// Both windows together, as the program wires them: "Next >" fills the main window's lists and
// shows it, "< Back" returns, and a second "Next >" lists what the changed settings name.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>

#include "catalogue/form2.h"
#include "catalogue/table_list.h"
#include "catalogue_support.h"
#include "core/connection_strings.h"
#include "core/settings.h"
#include "shell/form1.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"

using testing_support::UiTestEnvironment;

namespace {

class BothWindows : public qmtest::MySqlDatabaseTest {
 protected:
  UiTestEnvironment env;

  void TearDown() override {
    if (!secondDatabase.empty()) admin("DROP DATABASE IF EXISTS `" + secondDatabase + "`");
    qmtest::MySqlDatabaseTest::TearDown();
  }

  void createFoxproTable(const QString& folder, const std::string& name) {
    platform::ConnectionFields f;
    f.useDbcFile = false;
    f.freeTableFolder = folder;
    ado::Connection cn;
    cn.open(platform::FoxproConnectionString(f));
    cn.execute("CREATE TABLE " + name + " (id I)");
  }

  std::string secondDatabase;
};

}  // namespace

TEST_F(BothWindows, BackThenNextListsWhatTheChangedSettingsName) {
  QTemporaryDir first, second;
  createFoxproTable(first.path(), "alpha");
  createFoxproTable(second.path(), "beta");
  createFoxproTable(second.path(), "Gamma");
  admin("CREATE TABLE first_side (id INT)");
  secondDatabase = database() + "_2";
  admin("CREATE DATABASE `" + secondDatabase + "`");
  admin("CREATE TABLE `" + secondDatabase + "`.Second_Side (id INT)");
  admin("CREATE TABLE `" + secondDatabase + "`.another (id INT)");

  auto& app = env.app();
  WireMainWindow(app);
  WireConnectionWindow(app);
  Form1& f1 = app.window<Form1>();
  f1.start();
  f1.Option2->click();
  f1.Text2->setText(first.path());
  f1.Text3->setText(QString::fromStdString(sandbox().host));
  f1.Text4->setText(QString::fromStdString(sandbox().port));
  f1.Text5->setText(QString::fromStdString(sandbox().adminUser));
  f1.Text6->setText(QString::fromStdString(sandbox().adminPassword));
  f1.Text7->setText(QString::fromStdString(database()));

  f1.PushButton2->click();
  Form2* f2 = app.existingWindow<Form2>();
  ASSERT_NE(f2, nullptr);
  EXPECT_TRUE(f2->isVisible());
  EXPECT_FALSE(f1.isVisible());
  EXPECT_EQ(entries(*f2->List1), QStringList{"first_side"});
  EXPECT_EQ(entries(*f2->List2), QStringList{"alpha"});

  f2->PushButton2->click();
  EXPECT_TRUE(f1.isVisible());
  EXPECT_FALSE(f2->isVisible());
  f1.Text2->setText(second.path());
  f1.Text7->setText(QString::fromStdString(secondDatabase));
  f1.PushButton2->click();
  EXPECT_EQ(app.existingWindow<Form2>(), f2);  // one main window for the whole run
  EXPECT_TRUE(f2->isVisible());
  EXPECT_EQ(entries(*f2->List1), (QStringList{"another", "Second_Side"}));
  EXPECT_EQ(entries(*f2->List2), (QStringList{"beta", "Gamma"}));
  EXPECT_TRUE(env.dialogs().shown.empty());
}

TEST_F(BothWindows, BackCentresTheConnectionWindowWhenStartUpWentStraightOn) {
  QTemporaryDir folder;
  platform::Settings::setValue("FoxproOption", "2");
  platform::Settings::setValue("FreeTableFolder", folder.path());
  platform::Settings::setValue("MySQLServer", QString::fromStdString(sandbox().host));
  platform::Settings::setValue("MySQLPort", QString::fromStdString(sandbox().port));
  platform::Settings::setValue("MySQLUser", QString::fromStdString(sandbox().adminUser));
  platform::Settings::setValue("MySQLPassword", QString::fromStdString(sandbox().adminPassword));
  platform::Settings::setValue("MySQLDatabase", QString::fromStdString(database()));
  auto& app = env.app();
  WireMainWindow(app);
  WireConnectionWindow(app);
  Form1& f1 = app.window<Form1>();
  f1.start();
  Form2* f2 = app.existingWindow<Form2>();
  ASSERT_NE(f2, nullptr);
  ASSERT_TRUE(f1.movedToMainWindow());
  ASSERT_FALSE(f1.isVisible());

  f2->PushButton2->click();
  ASSERT_TRUE(f1.isVisible());
  const QRect screen = f1.screen()->availableGeometry();
  const QPoint offCentre = f1.frameGeometry().center() - screen.center();
  EXPECT_LE(offCentre.manhattanLength(), 4)
      << f1.frameGeometry().x() << "," << f1.frameGeometry().y();
  EXPECT_TRUE(env.dialogs().shown.empty());
}
