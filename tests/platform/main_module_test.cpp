// Module Main and the two connection strings.
#include "platform/main_module.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QRadioButton>

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "platform/application.h"
#include "platform/ui.h"
#include "support/scripted_dialogs.h"

using testing_support::UiTestEnvironment;

namespace {

class MainModule : public ::testing::Test {
 protected:
  UiTestEnvironment env;
};

QStringList entries(const QListWidget& list) {
  QStringList out;
  for (int i = 0; i < list.count(); ++i) out << list.item(i)->text();
  return out;
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

TEST(MainLists, ContainsIgnoresCaseWhileRemoveMatchesExactly) {
  QListWidget list;
  EXPECT_FALSE(Main::ListContains(list, "Orders"));
  list.addItems({"ORDERS", "customers", "Orders", "orders"});
  EXPECT_TRUE(Main::ListContains(list, "oRdErS"));
  EXPECT_FALSE(Main::ListContains(list, "order"));
  Main::RemoveListItem(list, "Orders");
  EXPECT_EQ(entries(list), (QStringList{"ORDERS", "customers", "orders"}));
  Main::RemoveListItem(list, "missing");
  EXPECT_EQ(list.count(), 3);
}

TEST(MainPaths, FolderOfPathTakesEitherSeparatorAndKeepsIt) {
  EXPECT_EQ(Main::FolderOfPath("orders.dbf"), "");
  EXPECT_EQ(Main::FolderOfPath("C:\\"), "C:\\");
  EXPECT_EQ(Main::FolderOfPath("C:\\a\\b"), "C:\\a\\");
  EXPECT_EQ(Main::FolderOfPath("C:\\data\\orders.dbc"), "C:\\data\\");
  EXPECT_EQ(Main::FolderOfPath("/srv/fox/shop.dbc"), "/srv/fox/");
  EXPECT_EQ(Main::FolderOfPath("/srv\\mixed/x"), "/srv\\mixed/");
}

TEST(MainValues, IfNullReplacesOnlyNull) {
  auto sub = ado::Value::fromText("none");
  EXPECT_EQ(Main::IfNull(ado::Value::null(), sub), sub);
  EXPECT_EQ(Main::IfNull(ado::Value::fromText(""), sub), ado::Value::fromText(""));
  EXPECT_EQ(Main::IfNull(ado::Value::fromInt(0), sub), ado::Value::fromInt(0));
}

TEST_F(MainModule, FilesAreTestedAndKilledWithoutErrorsReachingTheCaller) {
  QDir dir = env.programFolder();
  QString plain = dir.filePath("orders.DBF");
  QString readOnly = dir.filePath("locked.dbf");
  writeFile(plain, "x");
  writeFile(readOnly, "y");
  QFile(readOnly).setPermissions(QFileDevice::ReadOwner);

  EXPECT_TRUE(Main::FileExists(plain));
  EXPECT_FALSE(Main::FileExists(dir.filePath("nothing.dbf")));
  EXPECT_FALSE(Main::FileExists(""));
  EXPECT_FALSE(Main::FileExists(dir.filePath("no/such/folder/x")));

  Main::KillFile(plain);
  Main::KillFile(readOnly);
  Main::KillFile(dir.filePath("nothing.dbf"));
  EXPECT_FALSE(QFile::exists(plain));
  EXPECT_FALSE(QFile::exists(readOnly));
  EXPECT_THROW(Main::ForceDeleteFile(dir.filePath("nothing.dbf")), std::exception);
}

TEST(MainTitle, ShortTitleCutsAtLeastOnceAndUntilFortyCharacters) {
  // 46 characters, last blank at position 38 (1-based): one cut leaves the first 37.
  QString t46 = QString(37, 'a') + " " + QString(8, 'b');
  ASSERT_EQ(t46.size(), 46);
  EXPECT_EQ(Main::ShortTitle(t46), QString(37, 'a'));
  // The first cut still leaves 44 characters: cut again at the new last blank.
  QString twice = QString(20, 'a') + " " + QString(23, 'b') + " " + "cc";
  EXPECT_EQ(Main::ShortTitle(twice), QString(20, 'a'));
  // Short enough already, still loses its last word.
  EXPECT_EQ(Main::ShortTitle("Copy tables between two databases"), "Copy tables between two");
  // Nothing to cut at: the whole title, or its first 40 characters.
  EXPECT_EQ(Main::ShortTitle("Quillmere"), "Quillmere");
  EXPECT_EQ(Main::ShortTitle(QString(45, 'q')), QString(40, 'q'));
}

TEST_F(MainModule, SetShortTitleAndTheRandomVisit) {
  env.app().setTitle("not set yet");
  Main::SetShortTitle();
  EXPECT_EQ(env.app().title(), "Quillmere");

  env.desktop().nextRandom = 0.05;  // draws 6
  Main::VisitWebSiteAtRandom();
  env.desktop().nextRandom = 0.0699;  // draws 7
  Main::VisitWebSiteAtRandom();
  env.desktop().nextRandom = 0.07;  // draws 8
  Main::VisitWebSiteAtRandom();
  EXPECT_EQ(env.desktop().seeds, 3);
  ASSERT_EQ(env.desktop().openedUrls.size(), 1u);
  EXPECT_EQ(env.desktop().openedUrls[0], "https://www.tarnwick.example/");
}

TEST_F(MainModule, ClipboardRetriesUpToAThousandAttempts) {
  auto& cb = env.clipboard();
  cb.failuresBeforeSuccess = 999;
  EXPECT_TRUE(Main::CopyTextToClipboard("SELECT 1", 0));
  EXPECT_EQ(cb.setAttempts, 1000);
  EXPECT_EQ(cb.text, "SELECT 1");
  EXPECT_EQ(cb.format, 0);

  cb = testing_support::FakeClipboard();
  cb.failuresBeforeSuccess = -1;
  cb.throwOnFailure = true;
  EXPECT_FALSE(Main::CopyTextToClipboard("x", 13));
  EXPECT_EQ(cb.setAttempts, 1000);
  Main::ClearClipboard();  // absorbs every failure
  EXPECT_EQ(cb.clearAttempts, 1000);
  EXPECT_FALSE(cb.cleared);

  cb = testing_support::FakeClipboard();
  cb.failuresBeforeSuccess = 2;
  Main::ClearClipboard();
  EXPECT_EQ(cb.clearAttempts, 3);
  EXPECT_TRUE(cb.cleared);
}

TEST_F(MainModule, RealClipboardTakesPlainTextAndNumberedFormats) {
  platform::QtClipboard cb;
  ASSERT_TRUE(cb.trySetText("INSERT INTO [t] VALUES ('é')", 0));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "INSERT INTO [t] VALUES ('é')");
  ASSERT_TRUE(cb.trySetText("abc", 49161));
  EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->hasFormat(
      platform::clipboardFormatMimeType(49161)));
  EXPECT_TRUE(cb.tryClear());
}

TEST_F(MainModule, SkinAppliesOnlyWhenTheFileExistsWhileFormColorsAlwaysApply) {
  auto build = [](QWidget& w) {
    platform::SetBackground(w, Qt::white);
    auto* frame = new QGroupBox("FoxPro Login", &w);
    platform::SetBackground(*frame, Qt::white);
    auto* option = new QRadioButton("DBC File:", frame);
    platform::SetBackground(*option, Qt::white);
    auto* label = new QLabel("Server:", &w);
    platform::SetBackground(*label, Qt::white);
    new QLineEdit(&w);
  };
  QColor face = platform::ButtonFaceColour();
  ASSERT_NE(face, QColor(Qt::white));

  QWidget plain;
  build(plain);
  Main::ApplySkin(plain);
  EXPECT_EQ(platform::Background(plain), QColor(Qt::white));
  EXPECT_EQ(platform::Background(*plain.findChild<QGroupBox*>()), QColor(Qt::white));
  EXPECT_TRUE(plain.styleSheet().isEmpty());

  QWidget coloured;
  build(coloured);
  Main::ApplyFormColors(coloured);
  EXPECT_EQ(platform::Background(coloured), face);
  EXPECT_EQ(platform::Background(*coloured.findChild<QRadioButton*>()), face);
  EXPECT_EQ(platform::Background(*coloured.findChild<QLabel*>()), face);
  EXPECT_FALSE(coloured.findChild<QLineEdit*>()->autoFillBackground());

  ASSERT_TRUE(env.programFolder().mkpath("x"));
  writeFile(env.programFolder().filePath("x/o.cjs"), "QPushButton { font-weight: bold; }");
  QWidget skinned;
  build(skinned);
  Main::ApplySkin(skinned);
  EXPECT_EQ(platform::Background(skinned), face);
  EXPECT_EQ(platform::Background(*skinned.findChild<QGroupBox*>()), face);
  EXPECT_EQ(skinned.styleSheet(), "QPushButton { font-weight: bold; }");
}

TEST(ConnectionStrings, BuiltExactlyFromTheFields) {
  platform::ConnectionFields f;
  EXPECT_EQ(platform::FoxproConnectionString(f),
            "Provider=vfpoledb.1;Data Source=;Collating Sequence=machine;");
  f.dbcFile = "C:\\data\\shop.dbc";
  f.freeTableFolder = "/srv/free/";
  EXPECT_EQ(platform::FoxproConnectionString(f),
            "Provider=vfpoledb.1;Data Source=C:\\data\\shop.dbc;Collating Sequence=machine;");
  f.useDbcFile = false;
  EXPECT_EQ(platform::FoxproConnectionString(f),
            "Provider=vfpoledb.1;Data Source=/srv/free/;Collating Sequence=general;");

  f.server = "db.example";
  f.port = "abc";
  f.user = "bob";
  f.password = "s3cret";
  f.database = "shop";
  EXPECT_EQ(platform::MySQLConnectionString(f),
            "DRIVER={MySQL ODBC 5.1 Driver};SERVER=db.example;PORT=abc;USER=bob;DATABASE=shop;"
            "PASSWORD=s3cret;");
  f.port = "";
  EXPECT_NE(platform::MySQLConnectionString(f).find(";PORT=;USER="), std::string::npos);
}

TEST(ConnectionStrings, SemicolonsAndLeadingBracesSurviveTheRoundTrip) {
  platform::ConnectionFields f;
  f.user = "o;neill";
  f.password = "{pa;ss}word";
  f.database = "shop";
  f.freeTableFolder = "/tmp/a;b";
  f.useDbcFile = false;
  auto my = ado::ConnectionString::parse(platform::MySQLConnectionString(f));
  EXPECT_EQ(my.get("USER"), "o;neill");
  EXPECT_EQ(my.get("PASSWORD"), "{pa;ss}word");
  EXPECT_EQ(my.get("DATABASE"), "shop");
  EXPECT_EQ(my.get("DRIVER"), "MySQL ODBC 5.1 Driver");
  auto fox = ado::ConnectionString::parse(platform::FoxproConnectionString(f));
  EXPECT_EQ(fox.get("Data Source"), "/tmp/a;b");
  EXPECT_EQ(fox.get("Collating Sequence"), "general");
}

TEST_F(MainModule, ConnectionStringsWithoutAConnectionWindowFailClearly) {
  EXPECT_THROW(MySQLConnectionString(), std::exception);
  env.app().connectionFields = [] {
    platform::ConnectionFields f;
    f.dbcFile = "/x/y.dbc";
    return f;
  };
  EXPECT_EQ(FoxproConnectionString(),
            "Provider=vfpoledb.1;Data Source=/x/y.dbc;Collating Sequence=machine;");
}
