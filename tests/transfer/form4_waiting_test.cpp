// The preview answers while the server works on a line of a script it executes into MySQL, and
// a second press of "Execute" meanwhile starts nothing.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>

#include "ado/dataaccess.h"
#include "platform/dialogs.h"
#include "preview/form4.h"
#include "support/mysql_ui_test.h"
#include "support/scripted_dialogs.h"
#include "support/table_rows.h"

namespace {

using MySqlPreviewWaits = qmtest::MySqlUiTest;

}  // namespace

TEST_F(MySqlPreviewWaits, TheWindowAnswersWhileALineWaitsOnTheServer) {
  Form4 form;
  form.m_SendType = 1;
  form.AppendCommand("CREATE TABLE t (n INT)");
  form.AppendCommand("INSERT INTO t SELECT SLEEP(1.5)");
  int ticks = 0;
  QTimer timer;
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 10) form.PushButton3->click();  // refused: a run is going on
  });
  env.dialogs().modalScripts.push_back([&](QDialog&) {
    timer.start();
    form.PushButton3_Click();
    timer.stop();
    return 0;
  });
  platform::ShowModal(form);
  // About 30 ticks in the second and a half; none when the window freezes.
  EXPECT_GE(ticks, 12);
  ado::Connection cn;
  cn.open(connectionString());
  EXPECT_EQ(testing_support::RowCount(cn, "`t`"), 1);
  auto shown = env.dialogs().messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Transfer finished.");
}
