// "Send Table/s To FoxPro" driven through the main window's parts, against the private MariaDB
// and a temporary FoxPro folder, with the preview window executed or closed by the test.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "core/connection_strings.h"
#include "platform/main_window_view.h"
#include "platform/pointer.h"
#include "preview/form4.h"
#include "preview/send_tables.h"
#include "support/main_window_parts.h"
#include "support/mysql_sandbox.h"
#include "support/scripted_dialogs.h"
#include "transfer/mysql_to_foxpro.h"
#include "transfer/script_runner.h"
#include "vfp/dbc.h"

using testing_support::Shown;
using testing_support::UiTestEnvironment;

namespace {

QByteArray digestOf(const QString& folder) {
  QCryptographicHash h(QCryptographicHash::Sha256);
  QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    h.addData(name.toUtf8());
    h.addData(f.readAll());
  }
  return h.result();
}

// Every row of a table as the text forms of its values, in row order.
std::vector<std::vector<std::string>> rowsOf(const std::string& connectionString,
                                             const std::string& sql,
                                             std::vector<std::string>* names = nullptr) {
  ado::Connection c;
  c.open(connectionString);
  ado::RecordSet rs;
  rs.open(sql, c);
  if (names)
    for (int f = 0; f < rs.fieldCount(); ++f) names->push_back(rs.field(f).name);
  std::vector<std::vector<std::string>> rows;
  for (; !rs.eof(); rs.moveNext()) {
    rows.emplace_back();
    for (int f = 0; f < rs.fieldCount(); ++f) rows.back().push_back(rs.value(f).toText());
  }
  return rows;
}

class SendToFoxproWindow : public qmtest::MySqlDatabaseTest, protected qmtest::MainWindowParts {
 protected:
  QTemporaryDir fox;
  platform::ConnectionFields fields;
  QString executedScript;  // the script as the preview held it
  int previewsShown = 0;

  void SetUp() override {
    qmtest::MySqlDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (QListWidget* l : {&List1, &List2}) {
      l->setSortingEnabled(true);
      l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    ProgressBar1.setFormat("Progress Bar");
    fields = adminFields();
    fields.useDbcFile = false;
    fields.freeTableFolder = fox.path();
    env.app().connectionFields = [this] { return fields; };
  }

  std::string foxpro() const { return platform::FoxproConnectionString(fields); }
  std::string folder() const { return transfer::FoxproTargetFolder(fields); }

  void select(const QStringList& mysqlTables, const QStringList& chosen) {
    List1.addItems(mysqlTables);
    selectIn(List1, chosen);
  }

  // The preview, when it opens, is executed (or only read and closed).
  void whenPreviewOpens(bool execute) {
    env.dialogs().modalScripts.push_back([this, execute](QDialog& d) {
      auto& form = dynamic_cast<Form4&>(d);
      ++previewsShown;
      EXPECT_EQ(form.m_SendType, 0);
      executedScript = form.Script();
      notesWhenShown = form.Text1->toPlainText();
      if (execute) form.PushButton3_Click();
      notes = form.Text1->toPlainText();
      return 0;
    });
  }

  QString notes;
  QString notesWhenShown;  // the report, before anything ran
};

TEST_F(SendToFoxproWindow, WorkedExampleExecutedReadsBackAndRelists) {
  admin("CREATE TABLE orders (id INT, note VARCHAR(20), pic LONGBLOB)");
  admin("INSERT INTO orders VALUES (1, 'it''s', NULL)");
  {  // an older FoxPro table of that name, listed
    ado::Connection c;
    c.open(foxpro());
    c.execute("CREATE TABLE '" + folder() + "orders.DBF' (old M)");
  }
  List2.addItems({"orders", "zeta"});
  select({"orders"}, {"orders"});
  env.dialogs().messageAnswers = {platform::vbYes};
  whenPreviewOpens(true);

  transfer::SendTablesToFoxpro(view);

  auto messages = env.dialogs().messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Would you like to overwrite orders?");
  EXPECT_EQ(messages[0].caption, "Overwrite?");
  EXPECT_EQ(messages[0].style, platform::vbYesNo);
  EXPECT_EQ(messages.back().text, "Transfer finished.");
  const QString path = QString::fromStdString(folder()) + "orders.DBF";
  const QString built = QString::fromStdString(folder()) + "orders_qmnew.DBF";
  EXPECT_EQ(executedScript, "CREATE TABLE '" + built + "'([id] M,[note] M,[pic] BLOB)\r\n" +
                                "INSERT INTO [" + built + "] VALUES('1', 'it''s', '')\r\n" +
                                "DROP TABLE [orders]\r\nRENAME TABLE [" + built +
                                "] TO [orders]\r\n");
  EXPECT_TRUE(QFile::exists(path));
  EXPECT_FALSE(QFile::exists(built));
  std::vector<std::string> names;
  auto rows = rowsOf(foxpro(), "SELECT * FROM orders", &names);
  EXPECT_EQ(names, (std::vector<std::string>{"id", "note", "pic"}));  // free-table field names
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"1", "it's", ""}}));
  // Relisted from the database: the stale "zeta" entry goes, the new table is there once.
  EXPECT_EQ(entries(List2), QStringList{"orders"});
  EXPECT_EQ(ProgressBar1.value(), 0);
  EXPECT_EQ(ProgressBar1.format(), "Progress Bar");
  EXPECT_EQ(pointer.state(), platform::WindowPointer::State::Normal);
}

TEST_F(SendToFoxproWindow, ClosingThePreviewUnexecutedChangesNoFile) {
  admin("CREATE TABLE orders (id INT)");
  admin("INSERT INTO orders VALUES (7)");
  admin("CREATE TABLE fresh (id INT)");
  {
    ado::Connection c;
    c.open(foxpro());
    c.execute("CREATE TABLE '" + folder() + "orders.DBF' (old M)");
    c.execute("INSERT INTO orders VALUES ('kept')");
  }
  const QByteArray before = digestOf(fox.path());
  List2.addItems({"orders"});
  select({"fresh", "orders"}, {"fresh", "orders"});
  env.dialogs().messageAnswers = {platform::vbYes};
  whenPreviewOpens(false);

  transfer::SendTablesToFoxpro(view);

  EXPECT_EQ(previewsShown, 1);
  EXPECT_EQ(digestOf(fox.path()), before);
  EXPECT_EQ(rowsOf(foxpro(), "SELECT * FROM orders"),
            (std::vector<std::vector<std::string>>{{"kept"}}));
  // The interim entries ("fresh", a second "orders") are gone: the list is what FoxPro holds.
  EXPECT_EQ(entries(List2), QStringList{"orders"});
  // Bottom-up: "orders" sits below "fresh" in the list, so its commands come first.
  EXPECT_TRUE(executedScript.startsWith("CREATE TABLE '" + QString::fromStdString(folder()) +
                                        "orders_qmnew.DBF'"));
  EXPECT_LT(executedScript.indexOf("orders.DBF"), executedScript.indexOf("fresh.DBF"));
}

TEST_F(SendToFoxproWindow, EveryTableDeclinedOpensNoPreviewAndNoSelectionIsRefused) {
  admin("CREATE TABLE Orders (id INT)");
  List2.addItems({"orders"});
  select({"Orders"}, {"Orders"});
  env.dialogs().messageAnswers = {platform::vbNo};
  whenPreviewOpens(true);
  transfer::SendTablesToFoxpro(view);
  EXPECT_EQ(previewsShown, 0);
  ASSERT_EQ(env.dialogs().messages().size(), 1u);
  EXPECT_EQ(env.dialogs().messages()[0].text, "Would you like to overwrite Orders?");
  EXPECT_EQ(entries(List2), QStringList{"orders"});
  EXPECT_TRUE(QDir(fox.path()).isEmpty());

  // No current entry, or a current entry and nothing selected: the same message, nothing opened.
  for (int current : {-1, 0}) {
    env.dialogs().shown.clear();
    List1.clearSelection();
    List1.setCurrentRow(current, QItemSelectionModel::NoUpdate);
    transfer::SendTablesToFoxpro(view);
    ASSERT_EQ(env.dialogs().shown.size(), 1u);
    EXPECT_EQ(env.dialogs().shown[0].text, "Please select a table");
    EXPECT_EQ(env.dialogs().shown[0].style, platform::vbOKOnly);
  }
  EXPECT_EQ(previewsShown, 0);
}

TEST_F(SendToFoxproWindow, ValuesArriveWholeAndReadBackEqual) {
  admin(
      "CREATE TABLE vals (n INT, `2021` VARCHAR(600), de DECIMAL(10,2), d DATE, dt DATETIME, "
      "tm TIME, fl DOUBLE, bt BIT(1), y YEAR, js JSON, bn VARBINARY(8), bl LONGBLOB)");
  const std::string s200(200, 'a'), s201 = std::string(199, 'b') + "é" + "c",
                                    s450 = std::string(150, 'x') + "'+'" + std::string(297, 'y');
  const std::vector<std::string> texts = {s200,          s201,        s450,       "",
                                          "a'+'b +'c'+", "one\rtwo",  "one\ntwo", "one\r\ntwo",
                                          "\r\n",        "Euro € ok", "漢字 ✓"};
  int n = 0;
  for (const auto& t : texts) {
    std::string quoted;
    for (char c : t)
      quoted += c == '\'' ? std::string("''") : c == '\\' ? "\\\\" : std::string(1, c);
    admin("INSERT INTO vals VALUES (" + std::to_string(++n) + ", '" + quoted +
          "', -12.5, '2021-08-31', '2021-08-31 23:59:58', '-01:02:03', 0.1, b'1', 2021, "
          "'[1, \"x\"]', 0x00FF1A, 0xDEADBEEF00)");
  }
  admin(
      "INSERT INTO vals VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
      "NULL, NULL)");
  select({"vals"}, {"vals"});
  env.dialogs().textAnswers = {"year2021"};
  whenPreviewOpens(true);

  transfer::SendTablesToFoxpro(view);

  auto shown = env.dialogs().shown;
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown[0].kind, Shown::Kind::Input);
  EXPECT_EQ(shown[0].text, "Please change field name so it is not strictly numeric");
  EXPECT_EQ(shown[0].start, "2021");
  EXPECT_EQ(executedScript.count('\n'), 1 + static_cast<int>(texts.size()) + 1);

  std::vector<std::string> mysqlNames, foxNames;
  auto expected =
      rowsOf(connectionString(), "SELECT * FROM vals ORDER BY n IS NULL, n", &mysqlNames);
  auto actual = rowsOf(foxpro(), "SELECT * FROM vals", &foxNames);
  EXPECT_EQ(foxNames[1], "year2021");
  // Characters code page 1252 cannot hold arrive as "?", one each, and the notes say how many.
  for (auto& row : expected)
    if (row[1] == "漢字 ✓") row[1] = "?? ?";
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r)
    EXPECT_EQ(actual[r], expected[r]) << "row " << r;
  EXPECT_TRUE(notes.contains(transfer::ReplacedCharactersNote(3))) << notes.toStdString();

  // An independent reader sees the same texts in the memo column.
  QProcess py;
  py.start("/usr/bin/python3",
           {"-c",
            "import sys, dbfread\n"
            "class Blobs(dbfread.FieldParser):\n"
            "    def parseW(self, field, data):\n"
            "        return data\n"
            "for r in dbfread.DBF(sys.argv[1], encoding='cp1252', parserclass=Blobs):\n"
            "    sys.stdout.buffer.write(repr(r['YEAR2021']).encode('utf-8') + b'\\n')\n",
            QString::fromStdString(folder()) + "vals.DBF"});
  ASSERT_TRUE(py.waitForFinished(30000));
  ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
  const QStringList lines =
      QString::fromUtf8(py.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), static_cast<int>(expected.size()));
  EXPECT_EQ(lines[0], "'" + QString::fromStdString(s200) + "'");
  EXPECT_EQ(lines[1], "'" + QString::fromStdString(s201) + "'");
  EXPECT_EQ(lines[7], "'one\\r\\ntwo'");
  EXPECT_EQ(lines[9], "'Euro € ok'");
}

TEST_F(SendToFoxproWindow, InAContainerTheNewTableBecomesAMemberAndAReplacementTakesItsPlace) {
  const QString source = QStringLiteral(QM_FIXTURES_DIR "/VFPX__Samples/Northwind");
  for (const QString& name : QDir(source).entryList(QDir::Files))
    ASSERT_TRUE(QFile::copy(source + "/" + name, fox.filePath(name))) << name.toStdString();
  fields.useDbcFile = true;
  fields.dbcFile = fox.filePath("northwind.dbc");
  admin("CREATE TABLE `Order Notes` (`line no` INT, txt TEXT)");
  admin("INSERT INTO `Order Notes` VALUES (1, 'first'), (2, 'second')");
  select({"Order Notes"}, {"Order Notes"});
  whenPreviewOpens(true);

  transfer::SendTablesToFoxpro(view);

  EXPECT_EQ(env.dialogs().messages().back().text, "Transfer finished.");
  const QStringList listed = entries(List2);
  EXPECT_TRUE(listed.contains("Order Notes", Qt::CaseInsensitive))
      << listed.join(",").toStdString();
  EXPECT_TRUE(listed.contains("customers", Qt::CaseInsensitive));
  EXPECT_EQ(rowsOf(foxpro(), "SELECT * FROM [Order Notes]"),
            (std::vector<std::vector<std::string>>{{"1", "first"}, {"2", "second"}}));

  // Sent again and overwritten: the container keeps one member of that name, at its own file,
  // with the new rows, and nothing of the copy it was built as.
  admin("INSERT INTO `Order Notes` VALUES (3, 'third')");
  env.dialogs().messageAnswers = {platform::vbYes};
  whenPreviewOpens(true);
  transfer::SendTablesToFoxpro(view);
  EXPECT_EQ(env.dialogs().messages().back().text, "Transfer finished.");
  int members = 0;
  for (const auto& m : vfp::dbc::Container::open(fields.dbcFile.toStdString()).members()) {
    EXPECT_EQ(m.name.find("_qmnew"), std::string::npos) << m.name;
    if (m.name != "Order Notes") continue;
    ++members;
    EXPECT_EQ(m.path, folder() + "Order Notes.DBF");
  }
  EXPECT_EQ(members, 1);
  EXPECT_EQ(
      rowsOf(foxpro(), "SELECT * FROM [Order Notes]"),
      (std::vector<std::vector<std::string>>{{"1", "first"}, {"2", "second"}, {"3", "third"}}));
}

}  // namespace

namespace {

// The text as a code page 1252 table holds it: every character that page lacks becomes "?".
std::string as1252(const std::string& utf8) {
  static const QString extra = QString::fromUtf8("€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ");
  QString out;
  for (char32_t c : QString::fromUtf8(utf8).toUcs4()) {
    bool held = c < 0x80 || (c >= 0xA0 && c <= 0xFF) ||
                (c <= 0xFFFF && extra.contains(QChar(static_cast<char16_t>(c))));
    out += held ? QString::fromUcs4(&c, 1) : QStringLiteral("?");
  }
  return out.toStdString();
}

// The demo's MySQL tables, from the script that makes them, so the test follows the demo.
std::vector<std::string> demoStatements() {
  QFile f(QStringLiteral(QM_SOURCE_DIR "/scripts/demo"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QString text = QString::fromUtf8(f.readAll());
  const qsizetype begin = text.indexOf("<<'SQL'\n", text.indexOf("mysql-tables.sql"));
  const qsizetype end = text.indexOf("\nSQL\n", begin);
  if (begin < 0 || end < 0) return {};
  std::vector<std::string> out;
  for (const QString& s : text.mid(begin + 8, end - begin - 8).split(";\n", Qt::SkipEmptyParts))
    if (!s.trimmed().isEmpty()) out.push_back(s.toStdString());
  return out;
}

TEST_F(SendToFoxproWindow, EveryDemoTableArrivesEqual) {
  const auto statements = demoStatements();
  ASSERT_GE(statements.size(), 6u);
  for (const auto& s : statements) admin(s);
  const QStringList tables{"customers", "documents", "orders"};
  select(tables, tables);
  whenPreviewOpens(true);

  transfer::SendTablesToFoxpro(view);

  EXPECT_EQ(env.dialogs().messages().back().text, "Transfer finished.") << notes.toStdString();
  EXPECT_EQ(entries(List2), tables);
  for (const QString& t : tables) {
    auto expected = rowsOf(connectionString(), "SELECT * FROM " + t.toStdString());
    auto actual = rowsOf(foxpro(), "SELECT * FROM " + t.toStdString());
    ASSERT_EQ(actual.size(), expected.size()) << t.toStdString();
    for (std::size_t r = 0; r < expected.size(); ++r) {
      for (auto& v : expected[r]) v = as1252(v);
      // Bytes arrive as they are; only text passes through the code page.
      if (t == "documents") {
        auto raw = rowsOf(connectionString(), "SELECT * FROM documents");
        expected[r][3] = raw[r][3];
        expected[r][4] = raw[r][4];
      }
      EXPECT_EQ(actual[r], expected[r]) << t.toStdString() << " row " << r;
    }
  }
}

}  // namespace

namespace {

TEST_F(SendToFoxproWindow, SelectAllIsAChoiceAndTheListShowsWhatTheFolderHolds) {
  admin("CREATE TABLE t (a INT)");
  admin("INSERT INTO t VALUES (7)");
  admin("CREATE TABLE u (b INT)");
  List1.addItems({"t", "u"});
  List1.setCurrentRow(-1, QItemSelectionModel::NoUpdate);
  List1.selectAll();
  ASSERT_EQ(List1.currentRow(), -1);
  List2.addItems({"stale"});
  whenPreviewOpens(true);
  transfer::SendTablesToFoxpro(view);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Transfer finished.");
  EXPECT_EQ(previewsShown, 1);
  EXPECT_EQ(rowsOf(foxpro(), "SELECT * FROM t"), (std::vector<std::vector<std::string>>{{"7"}}));
  QStringList listed = entries(List2);
  listed.sort(Qt::CaseInsensitive);
  EXPECT_EQ(listed, (QStringList{"t", "u"}));
}

}  // namespace

namespace {

TEST_F(SendToFoxproWindow, FailuresAreReportedAndNoHalfScriptIsOffered) {
  admin("CREATE TABLE here (a INT)");
  List2.addItems({"old"});
  // "gone" is listed but no longer in MySQL; "here" (below it) is scripted first.
  select({"gone", "here"}, {"gone", "here"});
  whenPreviewOpens(true);
  transfer::SendTablesToFoxpro(view);
  // The unreadable table is named in the report with its reason; the other one goes.
  for (const auto& m : env.dialogs().messages())
    EXPECT_NE(m.caption, "Application Error") << m.text.toStdString();
  EXPECT_EQ(previewsShown, 1);
  EXPECT_TRUE(notesWhenShown.contains("Table gone:\n  left out of the script: it cannot be read"))
      << notesWhenShown.toStdString();
  EXPECT_TRUE(executedScript.contains("here.DBF")) << executedScript.toStdString();
  EXPECT_EQ(entries(List2), QStringList{"here"});
  EXPECT_EQ(pointer.state(), platform::WindowPointer::State::Normal);

  env.dialogs().shown.clear();
  fields.port = "1";  // nothing listens there
  transfer::SendTablesToFoxpro(view);
  auto messages = env.dialogs().messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Application Error");
  EXPECT_EQ(previewsShown, 1);  // no second preview
  EXPECT_EQ(pointer.state(), platform::WindowPointer::State::Normal);
}

}  // namespace

TEST_F(SendToFoxproWindow, ATableWhoseReadingBreaksOffIsLeftOutWholeAndTheOthersGo) {
  admin("CREATE TABLE big (n INT, s VARCHAR(60))");
  admin("INSERT INTO big SELECT seq, REPEAT('x', 60) FROM seq_1_to_100000");
  admin("CREATE TABLE zeta (z INT)");
  admin("INSERT INTO zeta VALUES (26)");
  {  // a complete older big, listed; the overwrite is accepted
    ado::Connection c;
    c.open(foxpro());
    c.execute("CREATE TABLE '" + folder() + "big.DBF' (old M)");
    c.execute("INSERT INTO big VALUES ('kept')");
  }
  List2.addItems({"big"});
  select({"big", "zeta"}, {"big", "zeta"});  // zeta, lower in the list, goes first
  env.dialogs().messageAnswers = {platform::vbYes};
  whenPreviewOpens(true);
  // While big's rows come in, an administrator ends the connection that reads them.
  ado::Connection watch;
  watch.open(connectionString());
  bool killed = false;
  QTimer timer;
  timer.setInterval(0);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (killed || ProgressBar1.value() <= 0) return;
    ado::RecordSet rs(watch.execute(
        "SELECT ID FROM information_schema.PROCESSLIST WHERE INFO = 'SELECT * FROM `big`'"));
    if (rs.eof()) return;
    const std::string id = rs.value(0).toText();
    rs.close();
    watch.execute("KILL CONNECTION " + id);
    killed = true;
  });
  timer.start();
  transfer::SendTablesToFoxpro(view);
  timer.stop();
  ASSERT_TRUE(killed);

  EXPECT_EQ(previewsShown, 1);
  // Nothing of big in the script, its drop included; the report says why.
  EXPECT_FALSE(executedScript.contains("big")) << executedScript.left(300).toStdString();
  EXPECT_TRUE(executedScript.contains("zeta.DBF"));
  EXPECT_TRUE(
      notesWhenShown.contains("Table big:\n  left out of the script: reading stopped after "))
      << notesWhenShown.toStdString();
  EXPECT_EQ(env.dialogs().messages().back().text, "Transfer finished.");
  EXPECT_EQ(rowsOf(foxpro(), "SELECT * FROM big"),
            (std::vector<std::vector<std::string>>{{"kept"}}));
  EXPECT_EQ(rowsOf(foxpro(), "SELECT * FROM zeta"),
            (std::vector<std::vector<std::string>>{{"26"}}));
  EXPECT_EQ(entries(List2), (QStringList{"big", "zeta"}));
  EXPECT_EQ(ProgressBar1.value(), 0);
}
