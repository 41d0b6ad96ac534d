// The Qt adapters of the window-side interfaces.
#include <gtest/gtest.h>

#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QTableWidget>

#include "app/qt/dialogs.h"
#include "app/qt/widgets.h"
#include "filelist/add_files.h"
#include "filelist/file_list.h"
#include "qt_test_app.h"
#include "support/fake_ui.h"

namespace parvane::app {
namespace {

using parvane::testing::TestApp;

struct QtGridTest : ::testing::Test {
  void SetUp() override { TestApp(); }
  QTableWidget table{1, 1};
  QtGrid grid{&table};
};

TEST(TwipsToPixels, FifteenTwipsAPixel) {
  EXPECT_EQ(TwipsToPixels(0), 0);
  EXPECT_EQ(TwipsToPixels(8145), 543);
  EXPECT_EQ(TwipsToPixels(6750), 450);
  EXPECT_EQ(TwipsToPixels(-120), -8);
  EXPECT_EQ(TwipsToPixels(10000), 667);
  EXPECT_EQ(TwipsToPixels(50000), 3333);
}

TEST_F(QtGridTest, CurrentCellTextsAndCounts) {
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.text(), "");
  grid.setText("first");
  grid.setRows(3);
  EXPECT_EQ(table.rowCount(), 3);
  grid.setRow(2);
  grid.setCol(0);
  EXPECT_EQ(grid.text(), "");  // a new row is empty
  grid.setText("third");
  grid.setRow(0);
  EXPECT_EQ(grid.text(), "first");
  EXPECT_EQ(table.item(2, 0)->text(), QStringLiteral("third"));
  EXPECT_EQ(table.currentRow(), 0);  // the current cell is the highlighted one
  EXPECT_THROW(grid.setRow(3), platform::PlatformError);
  EXPECT_THROW(grid.setRows(0), platform::PlatformError);
}

TEST_F(QtGridTest, ClearKeepsCountsAndWidths) {
  grid.setColWidth(0, 10000);
  grid.setRows(2);
  grid.setRow(1);
  grid.setText("x");
  grid.clear();
  EXPECT_EQ(grid.rows(), 2);
  EXPECT_EQ(grid.text(), "");
  EXPECT_EQ(table.columnWidth(0), 667);
}

TEST_F(QtGridTest, ShrinkingMovesTheCurrentRowIn) {
  grid.setRows(3);
  grid.setRow(2);
  grid.setRows(1);
  EXPECT_EQ(grid.currentRow(), 0);
  grid.setText("ok");
  EXPECT_EQ(table.item(0, 0)->text(), QStringLiteral("ok"));
}

TEST_F(QtGridTest, FileListOperationsDriveIt) {
  QLabel label(QStringLiteral("0 files"));
  QtLabel counter(&label);
  filelist::FileListControls list{grid, counter};
  filelist::AppendToList(list, "/m/a.msg");
  EXPECT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.item(0, 0)->text(), QStringLiteral("/m/a.msg"));
  EXPECT_EQ(label.text(), QStringLiteral("1 files"));
  EXPECT_EQ(table.columnWidth(0), 667);
  filelist::AppendToList(list, "/m/b.msg");
  EXPECT_EQ(table.rowCount(), 2);
  EXPECT_EQ(table.currentRow(), 1);
  filelist::EmptyList(list);
  EXPECT_EQ(table.rowCount(), 1);
  EXPECT_EQ(grid.text(), "");
  EXPECT_EQ(label.text(), QStringLiteral("0 files"));
}

TEST(QtProgressBar, KeepsFractionsShowsThemRounded) {
  TestApp();
  QProgressBar bar;
  bar.setRange(0, 100);
  QtProgressBar adapter(&bar);
  adapter.setValue(42.6f);
  EXPECT_FLOAT_EQ(adapter.value(), 42.6f);
  EXPECT_EQ(bar.value(), 43);
  adapter.setMax(10);
  EXPECT_EQ(bar.maximum(), 10);
  EXPECT_EQ(bar.value(), 10);  // held within the range
}

TEST(BuildMessageBox, YesNoQuestion) {
  TestApp();
  auto box = BuildMessageBox(nullptr, "line one\r\n second", platform::MessageButtons::YesNo,
                             platform::MessageIcon::Question, "Parvane");
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Parvane"));
  EXPECT_EQ(box->text(), QStringLiteral("line one\n second"));
  EXPECT_EQ(box->icon(), QMessageBox::Question);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
  EXPECT_EQ(box->escapeButton(), nullptr);
}

TEST(BuildMessageBox, EscapeDoesNotAnswerAYesNoBox) {
  TestApp();
  auto box = BuildMessageBox(nullptr, "Are you sure you want to exit now?",
                             platform::MessageButtons::YesNo, platform::MessageIcon::Question,
                             "Parvane");
  box->show();
  QTest::keyClick(box.get(), Qt::Key_Escape);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->clickedButton(), nullptr);
  QTest::keyClick(box.get(), Qt::Key_Return);  // Yes is the default
  EXPECT_FALSE(box->isVisible());
  EXPECT_EQ(box->clickedButton(), box->button(QMessageBox::Yes));
}

TEST(BuildMessageBox, OkWithExclamationOrNoIcon) {
  TestApp();
  auto warn = BuildMessageBox(nullptr, "x", platform::MessageButtons::Ok,
                              platform::MessageIcon::Exclamation, "Parvane");
  EXPECT_EQ(warn->icon(), QMessageBox::Warning);
  EXPECT_EQ(warn->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
  auto plain = BuildMessageBox(nullptr, "<b>2</b> Files", platform::MessageButtons::Ok,
                               platform::MessageIcon::None, "Parvane");
  EXPECT_EQ(plain->icon(), QMessageBox::NoIcon);
  EXPECT_EQ(plain->textFormat(), Qt::PlainText);
}

TEST(NameFilters, FromDescriptionAndPattern) {
  EXPECT_EQ(NameFilters("Email Messages (*.msg)|*.msg"),
            QStringList{QStringLiteral("Email Messages (*.msg)")});
  EXPECT_EQ(NameFilters("Text|*.txt|All|*.*"),
            (QStringList{QStringLiteral("Text (*.txt)"), QStringLiteral("All (*.*)")}));
}

TEST(ComposeOpenResult, OneOrSeveral) {
  EXPECT_EQ(ComposeOpenResult({}), "");
  EXPECT_EQ(ComposeOpenResult({"/m/a.msg"}), "/m/a.msg");
  EXPECT_EQ(ComposeOpenResult({"/m/a.msg", "/m/b.msg"}), std::string("/m\0a.msg\0b.msg", 14));
  EXPECT_EQ(ComposeOpenResult({"/a.msg", "/b.msg"}), std::string("/\0a.msg\0b.msg", 13));
  // Paths from different folders keep their way down from the common one.
  EXPECT_EQ(ComposeOpenResult({"/m/x/a.msg", "/m/y/b.msg"}),
            std::string("/m\0x/a.msg\0y/b.msg", 18));
  // "/mail" does not hold "/mailbox/c.msg".
  EXPECT_EQ(ComposeOpenResult({"/mail/a.msg", "/mailbox/c.msg"}),
            std::string("/\0mail/a.msg\0mailbox/c.msg", 26));
}

TEST(ComposeOpenResult, ParsesBackToTheSamePaths) {
  const std::vector<std::string> chosen{"/srv/u/Mail/a.msg", "/srv/u/Mail/b c.msg"};
  EXPECT_EQ(filelist::PathsFromDialogResult(ComposeOpenResult(chosen), '/'), chosen);
}

TEST(NamesThatFit, CountsNulsAndTheClosingOne) {
  // "/m" NUL "ab" NUL "cd" NUL NUL = 2 + 1 + 3 + 3 + 1 = 10
  const std::string result("/m\0ab\0cd", 8);
  EXPECT_EQ(NamesThatFit(result, 10), 2);
  EXPECT_EQ(NamesThatFit(result, 9), 1);
  EXPECT_EQ(NamesThatFit(result, 7), 1);
  EXPECT_EQ(NamesThatFit(result, 6), 0);
  EXPECT_EQ(NamesThatFit("/m/a.msg", 9), 1);
  EXPECT_EQ(NamesThatFit("/m/a.msg", 8), 0);
  // Counted in UTF-16 units, not bytes: "é" is one unit.
  EXPECT_EQ(NamesThatFit("/\xC3\xA9", 3), 1);
}

TEST(QtOpenFileDialog, HandsBackTheResultForm) {
  TestApp();
  bool sawMultiple = false;
  QStringList sawFilters;
  QtOpenFileDialog dialog(nullptr, [&](QWidget*, const QStringList& filters, bool multiple) {
    sawMultiple = multiple;
    sawFilters = filters;
    return QStringList{QStringLiteral("/m/a.msg"), QStringLiteral("/m/b.msg")};
  });
  dialog.setFilter(filelist::kMessageFilter);
  dialog.setFlags(filelist::kOpenDialogFlags);
  dialog.setMaxFileSize(1000);
  dialog.showOpen();
  EXPECT_TRUE(sawMultiple);
  EXPECT_EQ(sawFilters, QStringList{QStringLiteral("Email Messages (*.msg)")});
  EXPECT_EQ(dialog.fileName(), std::string("/m\0a.msg\0b.msg", 14));
}

TEST(QtOpenFileDialog, CancelGivesEmpty) {
  TestApp();
  QtOpenFileDialog dialog(nullptr, [](QWidget*, const QStringList&, bool) { return QStringList(); });
  dialog.setFileName("");
  dialog.showOpen();
  EXPECT_EQ(dialog.fileName(), "");
}

TEST(QtOpenFileDialog, TooLongRaisesWithTheNumberThatFits) {
  TestApp();
  QStringList many;
  // folder "/m" + NUL = 3, each name "nnnnnnnnnnnnnnnnnn.msg" 22 + NUL = 23, closing NUL 1:
  // k names need 4 + 23k <= 1000, so 43 fit.
  for (int i = 0; i < 60; ++i) many << QStringLiteral("/m/%1.msg").arg(i, 18, 10, QLatin1Char('0'));
  QtOpenFileDialog dialog(nullptr, [&](QWidget*, const QStringList&, bool) { return many; });
  dialog.setFlags(filelist::kOpenDialogFlags);
  dialog.setMaxFileSize(1000);
  try {
    dialog.showOpen();
    FAIL() << "no error";
  } catch (const filelist::SelectionTooLongError& e) {
    EXPECT_EQ(e.code(), 20476);
    EXPECT_EQ(e.namesThatFit(), 43);
  }
}

TEST(QtFolderDialog, ReturnsTheChosenFolderOrEmpty) {
  TestApp();
  QString title;
  QString answer = QStringLiteral("/srv/u/Mail");
  QtFolderDialog dialog(nullptr, [&](QWidget*, const QString& t) {
    title = t;
    return answer;
  });
  EXPECT_EQ(dialog.browse(0, "Choose Source Folder..."), "/srv/u/Mail");
  EXPECT_EQ(title, QStringLiteral("Choose Source Folder..."));
  answer.clear();
  EXPECT_EQ(dialog.browse(0, "x"), "");
}

TEST(QtDesktop, BusyPointerIsSetOnceAndRestored) {
  TestApp();
  QWidget window;
  QtDesktop desktop(&window);
  desktop.setBusyPointer(true);
  desktop.setBusyPointer(true);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  desktop.setBusyPointer(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_NE(desktop.mainWindowHandle(), 0);
}

TEST(QtDesktop, YieldHandlesPendingEventsAtMostOncePerInterval) {
  TestApp();
  QWidget window;
  int handled = 0;
  QtDesktop every(&window, 0);
  QTimer::singleShot(0, [&] { ++handled; });
  every.yield();
  EXPECT_EQ(handled, 1);

  QtDesktop throttled(&window, 60000);
  throttled.yield();  // the first always handles
  QTimer::singleShot(0, [&] { ++handled; });
  throttled.yield();  // too soon: returns at once
  EXPECT_EQ(handled, 1);
  every.yield();
  EXPECT_EQ(handled, 2);
}

}  // namespace
}  // namespace parvane::app
