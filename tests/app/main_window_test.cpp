// The real main window under the offscreen platform: layout, captions, start
// state, focus, colours and the message-box flows with injected answers.
#include "app/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QtCore/QFile>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtCore/QTimer>
#include <QtGui/QDropEvent>
#include <QtGui/QImage>
#include <QtTest/QTest>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTableWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/qt/dialogs.h"
#include "app/qt/widgets.h"
#include "conversion/run_report.h"
#include "filelist/file_list.h"
#include "qt_test_app.h"
#include "support/memory_store_service.h"
#include "support/fake_ui.h"

namespace parvane::app {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;
using parvane::testing::FakeFolderDialog;
using parvane::testing::FakeOpenFileDialog;
using parvane::testing::ScriptedMessageBox;
using parvane::testing::TestApp;

struct WindowTest : ::testing::Test {
  void SetUp() override {
    TestApp();
    window = std::make_unique<MainWindow>();
    window->setMessageBox(&messages);
    window->setExitHandler([this] { ++exits; });
  }
  void TearDown() override { window.reset(); }

  template <class W>
  W* find(const char* name) const {
    W* widget = window->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QPushButton* button(const char* name) const { return find<QPushButton>(name); }
  QTableWidget* table() const { return find<QTableWidget>("fileList"); }
  QLabel* label(const char* name) const { return find<QLabel>(name); }

  // Lists `rows` and converts them, the folder chooser answering `destination`.
  void convertInto(const std::string& destination, const std::vector<std::string>& rows) {
    for (const auto& row : rows) filelist::AppendToList({window->grid(), window->countLabel()}, row);
    window->convertButton().setEnabled(true);
    destinationChooser.results.push_back(destination);
    window->setFolderDialog(&destinationChooser);
    button("convertButton")->click();
  }

  std::unique_ptr<MainWindow> window;
  FakeFolderDialog destinationChooser;
  ScriptedMessageBox messages;
  int exits = 0;
};

struct Placement {
  const char* name;
  int left, top, width, height;  // twips
};

TEST_F(WindowTest, EveryControlAtItsPlace) {
  const Placement table[] = {
      {"topBand", -120, 0, 8415, 855},
      {"titleLabel", 240, 120, 6255, 375},
      {"addFilesButton", 240, 960, 1815, 375},
      {"addFolderButton", 2400, 960, 2775, 375},
      {"clearListButton", 6240, 960, 1695, 375},
      {"fileCountLabel", 270, 1560, 4335, 255},
      {"fileList", 240, 1800, 7695, 1575},
      {"progressFrame", 240, 3480, 7695, 1815},
      {"currentFolderLabel", 120, 240, 7455, 255},
      {"messageCountLabel", 1800, 600, 5775, 255},
      {"fileProgressCaption", 120, 960, 1695, 255},
      {"fileProgressBar", 1800, 960, 5775, 255},
      {"overallProgressCaption", 120, 1320, 1695, 255},
      {"overallProgressBar", 1800, 1320, 5775, 255},
      {"convertButton", 2880, 5520, 2415, 435},
      {"bottomBand", 0, 6120, 8415, 855},
      {"bottomStrip", 240, 6240, 7695, 495},
      {"exitButton", 6360, 0, 1335, 375},
  };
  for (const Placement& p : table) {
    QWidget* w = find<QWidget>(p.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15))
        << p.name;
  }
  // Nesting: the frame's controls and the bottom strip's button.
  for (const char* inFrame : {"currentFolderLabel", "messageCountLabel", "fileProgressCaption",
                              "fileProgressBar", "overallProgressCaption", "overallProgressBar"}) {
    EXPECT_EQ(find<QWidget>(inFrame)->parentWidget()->objectName(),
              QStringLiteral("progressFrame"));
  }
  EXPECT_EQ(button("exitButton")->parentWidget()->objectName(), QStringLiteral("bottomStrip"));
}

TEST_F(WindowTest, FixedClientAreaTitleAndIcon) {
  EXPECT_EQ(window->objectName(), QStringLiteral("mainWindow"));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Parvane"));
  EXPECT_EQ(window->size(), QSize(543, 450));
  EXPECT_EQ(window->minimumSize(), QSize(543, 450));
  EXPECT_EQ(window->maximumSize(), QSize(543, 450));
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  for (int size : {16, 24, 32, 48, 256}) {
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/parvane/icons/parvane-%1.png").arg(size))) << size;
  }
  const QIcon icon = window->windowIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 24, 32, 48, 256}) {
    EXPECT_EQ(icon.pixmap(QSize(size, size)).size(), QSize(size, size)) << size;
  }
}

TEST_F(WindowTest, CaptionsAndFonts) {
  EXPECT_EQ(label("titleLabel")->text(), QStringLiteral("Parvane"));
  EXPECT_EQ(button("addFilesButton")->text(), QStringLiteral("Add MSG File(s)..."));
  EXPECT_EQ(button("addFolderButton")->text(), QStringLiteral("Add Folder having MSG File(s)..."));
  EXPECT_EQ(button("clearListButton")->text(), QStringLiteral("Clear File(s)..."));
  EXPECT_EQ(label("fileCountLabel")->text(), QStringLiteral("0 files"));
  EXPECT_EQ(find<QGroupBox>("progressFrame")->title(), QStringLiteral("Details"));
  EXPECT_EQ(label("currentFolderLabel")->text(), QStringLiteral("Converting Messages..."));
  EXPECT_EQ(label("messageCountLabel")->text(), QStringLiteral("Message 0 (of 0)"));
  EXPECT_EQ(label("fileProgressCaption")->text(), QStringLiteral("Current File Progress : "));
  EXPECT_EQ(label("overallProgressCaption")->text(), QStringLiteral("Overall Progress        : "));
  EXPECT_EQ(button("convertButton")->text(), QStringLiteral("Convert &Messages"));
  EXPECT_EQ(button("exitButton")->text(), QStringLiteral("E&xit"));

  const QFont title = label("titleLabel")->font();
  EXPECT_TRUE(title.bold());
  EXPECT_DOUBLE_EQ(title.pointSizeF(), 14.25);
  EXPECT_EQ(title.families().value(0), QStringLiteral("Tahoma"));
  for (const char* name :
       {"addFilesButton", "fileCountLabel", "currentFolderLabel", "exitButton", "fileList"}) {
    const QFont f = find<QWidget>(name)->font();
    EXPECT_DOUBLE_EQ(f.pointSizeF(), 8.25) << name;
    EXPECT_FALSE(f.bold()) << name;
    EXPECT_EQ(f.families().value(0), QStringLiteral("Tahoma")) << name;
  }
}

TEST_F(WindowTest, EveryCaptionFitsItsControl) {
  for (const char* name : {"titleLabel", "fileCountLabel", "currentFolderLabel",
                           "messageCountLabel", "fileProgressCaption", "overallProgressCaption"}) {
    QLabel* l = label(name);
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << name;
  }
  for (const char* name :
       {"addFilesButton", "addFolderButton", "clearListButton", "convertButton", "exitButton"}) {
    QPushButton* b = button(name);
    const QString shown = QString(b->text()).remove(QLatin1Char('&'));
    EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(shown) + 8, b->width()) << name;
  }
}

TEST_F(WindowTest, StartState) {
  EXPECT_FALSE(button("convertButton")->isEnabled());
  EXPECT_TRUE(button("addFilesButton")->isEnabled());
  QTableWidget* grid = table();
  EXPECT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(grid->columnCount(), 1);
  EXPECT_TRUE(grid->horizontalHeader()->isHidden());
  EXPECT_TRUE(grid->verticalHeader()->isHidden());
  EXPECT_EQ(grid->item(0, 0), nullptr);
  EXPECT_EQ(grid->columnWidth(0), 3333);  // 50000 twips
  for (const char* name : {"overallProgressBar", "fileProgressBar"}) {
    auto* bar = find<QProgressBar>(name);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
  }
}

TEST_F(WindowTest, FocusStartsOnAddAndMovesInTabOrder) {
  window->showCentred();
  window->activateWindow();
  EXPECT_EQ(window->focusWidget(), button("addFilesButton"));

  std::vector<QString> order;
  QWidget* w = button("addFilesButton");
  for (int guard = 0; guard < 100 && order.size() < 6; ++guard) {
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w->objectName());
    w = w->nextInFocusChain();
  }
  EXPECT_EQ(order, (std::vector<QString>{"addFilesButton", "clearListButton", "addFolderButton",
                                         "fileList", "convertButton", "exitButton"}));
  for (const char* name : {"titleLabel", "fileCountLabel", "progressFrame", "overallProgressBar",
                           "bottomStrip", "bottomBand", "topBand"}) {
    EXPECT_FALSE(find<QWidget>(name)->focusPolicy() & Qt::TabFocus) << name;
  }
}

TEST_F(WindowTest, AccessKeysPressTheirButtons) {
  window->showCentred();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  FakeFolderDialog chooser;  // cancels: the run ends after asking
  window->setFolderDialog(&chooser);
  window->convertButton().setEnabled(true);
  QTest::keyClick(window.get(), Qt::Key_M, Qt::AltModifier);
  QTest::qWait(300);  // the press animates before it clicks
  EXPECT_EQ(chooser.titles, std::vector<std::string>{"Choose Folder to Save..."});

  messages.answers.push_back(MessageAnswer::No);
  QTest::keyClick(window.get(), Qt::Key_X, Qt::AltModifier);
  QTest::qWait(300);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Are you sure you want to exit now?");
}

TEST_F(WindowTest, WideColumnScrollsSideways) {
  window->showCentred();
  QApplication::processEvents();
  QScrollBar* bar = table()->horizontalScrollBar();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->maximum(), 3333 - table()->viewport()->width());
}

TEST_F(WindowTest, GridColours) {
  window->showCentred();
  filelist::FileListControls list{window->grid(), window->countLabel()};
  filelist::AppendToList(list, "/m/a.msg");
  filelist::AppendToList(list, "/m/b.msg");  // the current cell: row 1
  QApplication::processEvents();
  QTableWidget* grid = table();
  const QImage image = grid->viewport()->grab().toImage();
  const int rowHeight = grid->rowHeight(0);
  const int x = grid->columnWidth(0) > 400 ? 400 : grid->columnWidth(0) - 20;
  EXPECT_EQ(QColor(image.pixel(x, rowHeight / 2)), QColor(255, 255, 191));
  EXPECT_EQ(QColor(image.pixel(x, rowHeight + rowHeight / 2)), QColor(0, 0, 128));
  EXPECT_EQ(QColor(image.pixel(x, 2 * rowHeight + 20)), QColor(Qt::white));
  // A grid line lies at the bottom of each row.
  EXPECT_EQ(QColor(image.pixel(x, rowHeight - 1)), QColor(192, 192, 192));
}

// The bands lie beneath the controls in their border colours; the strip and
// the title's band are white, the title's text dark on it.
TEST_F(WindowTest, BandsShowTheirColours) {
  window->showCentred();
  QApplication::processEvents();
  const QImage image = window->grab().toImage();
  const auto at = [&](int x, int y) { return QColor(image.pixel(x, y)); };
  EXPECT_EQ(at(300, 56), QColor(128, 128, 128));  // the top band's lower edge
  EXPECT_EQ(at(500, 30), QColor(Qt::white));
  EXPECT_EQ(at(8, 408), QColor(192, 192, 192));   // the bottom band's upper edge
  EXPECT_EQ(at(100, 440), QColor(Qt::white));     // the strip
  EXPECT_NE(at(8, 200), QColor(Qt::white));       // the window's face
  int dark = 0;
  for (int y = 8; y < 33; ++y) {
    for (int x = 16; x < 433; ++x) dark += qGray(image.pixel(x, y)) < 64 ? 1 : 0;
  }
  EXPECT_GT(dark, 20);
}

TEST_F(WindowTest, AccessorsReachTheControls) {
  window->frameCaption().setCaption("Converting a.msg");
  EXPECT_EQ(find<QGroupBox>("progressFrame")->title(), QStringLiteral("Converting a.msg"));
  window->currentFolderLabel().setCaption("3 of 9");
  EXPECT_EQ(label("currentFolderLabel")->text(), QStringLiteral("3 of 9"));
  EXPECT_EQ(window->messageCountLabel().caption(), "Message 0 (of 0)");
  window->overallProgressBar().setValue(50);
  EXPECT_EQ(find<QProgressBar>("overallProgressBar")->value(), 50);
  window->fileProgressBar().setValue(7);
  EXPECT_EQ(find<QProgressBar>("fileProgressBar")->value(), 7);
  window->convertButton().setEnabled(true);
  EXPECT_TRUE(button("convertButton")->isEnabled());
  EXPECT_EQ(&window->messageBox(), &messages);
}

TEST_F(WindowTest, ConvertClickStartsTheRun) {
  FakeFolderDialog chooser;  // cancels
  window->setFolderDialog(&chooser);
  button("convertButton")->click();  // disabled: no click
  EXPECT_TRUE(chooser.titles.empty());
  window->convertButton().setEnabled(true);
  button("convertButton")->click();
  EXPECT_EQ(chooser.titles, std::vector<std::string>{"Choose Folder to Save..."});
  EXPECT_FALSE(window->controller().lastRun());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(WindowTest, DialogFailureIsShownNotThrown) {
  FakeOpenFileDialog dialog;
  dialog.failCode = -2147221005;
  dialog.failDescription = "Invalid class string";
  window->setOpenFileDialog(&dialog);
  button("addFilesButton")->click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "-2147221005:Invalid class string");
}

// The window alone has no mail store: the run shows its preparation error.
TEST_F(WindowTest, WithoutAMailStoreTheRunShowsTheOutlookError) {
  convertInto("/nowhere", {"/m/a.msg"});
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].title, "Outlook Error");
  ASSERT_TRUE(window->controller().lastRun() && window->controller().lastRun()->preparation);
  EXPECT_EQ(window->controller().lastRun()->preparation->store.detail,
            "this window has no mail store to write to");
  EXPECT_TRUE(button("convertButton")->isEnabled());
}

// The buttons reach the controller through the window's replaceable parts.
TEST_F(WindowTest, ReplacedMailStoreServesTheRun) {
  parvane::testing::MemoryStoreService store;
  window->setStoreService(&store);
  convertInto("/out", {"/m/a.msg", "/m/Work/b.msg"});
  ASSERT_TRUE(window->controller().lastRun());
  const auto& run = *window->controller().lastRun();
  ASSERT_EQ(run.stage, conversion::RunResult::Stage::Completed);
  EXPECT_EQ(run.converted, 2u);
  EXPECT_EQ(store.path, run.storeFilePath);
  EXPECT_EQ(store.folderPaths(), (std::vector<std::string>{"m", "m\\Work"}));
  EXPECT_EQ(find<QGroupBox>("progressFrame")->title(),
            QStringLiteral("Details : Converting - (2 of 2) file(s)"));
  EXPECT_EQ(find<QProgressBar>("overallProgressBar")->value(), 100);
  EXPECT_FALSE(button("convertButton")->isEnabled());
  EXPECT_TRUE(button("addFilesButton")->isEnabled() && button("addFolderButton")->isEnabled() &&
              button("clearListButton")->isEnabled());
  EXPECT_EQ(label("messageCountLabel")->text(), QStringLiteral("Message 0 (of 0)"));
  window->setStoreService(nullptr);
}

// "Save Report..." appears beside "Convert Messages" once a run has ended,
// and saves that run's report where the user says.
TEST_F(WindowTest, SaveReportAppearsOnceARunEndedAndSavesItsReport) {
  QPushButton* save = button("saveReportButton");
  ASSERT_NE(save, nullptr);
  EXPECT_TRUE(save->isHidden());
  EXPECT_EQ(save->text(), QStringLiteral("Save Report..."));
  EXPECT_EQ(save->geometry(), QRect(5520 / 15, 5550 / 15, 1935 / 15, 375 / 15));

  parvane::testing::MemoryStoreService store;
  window->setStoreService(&store);
  convertInto("/out", {"/m/a.msg"});
  ASSERT_TRUE(window->controller().lastRun());
  EXPECT_FALSE(save->isHidden());

  std::vector<std::string> offered;
  std::string answer;  // cancel first
  window->setReportPathChooser([&](const std::string& suggested) {
    offered.push_back(suggested);
    return answer;
  });
  save->click();
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_EQ(offered[0], store.path.substr(0, store.path.size() - 4) + ".jsonl");

  namespace fs = std::filesystem;
  const fs::path saved = fs::temp_directory_path() / ("parvane-window-report-" +
                                                      std::to_string(::getpid()) + ".jsonl");
  answer = saved.string();
  save->click();
  std::ifstream file(saved);
  std::string first, summary, more;
  std::getline(file, first);
  std::getline(file, summary);
  EXPECT_EQ(first, conversion::ReportLine({"/m/a.msg", "m", true, "", std::nullopt, store.path}));
  EXPECT_EQ(summary.rfind(R"({"summary":true,"store":)" + conversion::JsonString(store.path) + R"(,"stores":[)" +
                              conversion::JsonString(store.path) + R"(],"listed":1,"converted":1,)", 0),
            0u)
      << summary;
  EXPECT_FALSE(std::getline(file, more));
  fs::remove(saved);

  // A destination cancelled: no run to report, and the button goes.
  window->convertButton().setEnabled(true);
  button("convertButton")->click();
  EXPECT_FALSE(window->controller().lastRun());
  EXPECT_TRUE(save->isHidden());
  window->setStoreService(nullptr);
}

TEST_F(WindowTest, ExitAnsweredNoChangesNothing) {
  filelist::AppendToList({window->grid(), window->countLabel()}, "/m/a.msg");
  messages.answers.push_back(MessageAnswer::No);
  button("exitButton")->click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Are you sure you want to exit now?");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Question);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  EXPECT_EQ(exits, 0);
  EXPECT_EQ(table()->item(0, 0)->text(), QStringLiteral("/m/a.msg"));
}

TEST_F(WindowTest, ExitAnsweredYesEnds) {
  messages.answers.push_back(MessageAnswer::Yes);
  button("exitButton")->click();
  EXPECT_EQ(exits, 1);
  // Nothing runs after the end.
  button("clearListButton")->click();
  button("exitButton")->click();
  EXPECT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(exits, 1);
}

TEST_F(WindowTest, ClosingEndsWithoutAQuestion) {
  window->show();
  filelist::AppendToList({window->grid(), window->countLabel()}, "/m/a.msg");
  EXPECT_TRUE(window->close());
  EXPECT_EQ(exits, 1);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(WindowTest, ClearFlow) {
  button("clearListButton")->click();  // empty list: no question
  EXPECT_TRUE(messages.shown.empty());

  window->convertButton().setEnabled(true);
  filelist::AppendToList({window->grid(), window->countLabel()}, "/m/a.msg");
  messages.answers = {MessageAnswer::No, MessageAnswer::Yes};
  button("clearListButton")->click();
  EXPECT_EQ(table()->item(0, 0)->text(), QStringLiteral("/m/a.msg"));
  button("clearListButton")->click();
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].text, "Do you want to clear all the files in the list\r\n Proceed?");
  EXPECT_EQ(table()->rowCount(), 1);
  EXPECT_EQ(window->grid().text(), "");
  EXPECT_EQ(label("fileCountLabel")->text(), QStringLiteral("0 files"));
  EXPECT_TRUE(button("convertButton")->isEnabled());  // clearing leaves it as it was
}

TEST_F(WindowTest, AddFilesThroughTheQtDialogAdapter) {
  QtOpenFileDialog dialog(window.get(), [](QWidget*, const QStringList&, bool) {
    return QStringList{QStringLiteral("/m/a.msg"), QStringLiteral("/m/b.msg"),
                       QStringLiteral("/m/c.msg")};
  });
  window->setOpenFileDialog(&dialog);
  button("addFilesButton")->click();
  EXPECT_EQ(table()->rowCount(), 3);
  EXPECT_EQ(table()->item(2, 0)->text(), QStringLiteral("/m/c.msg"));
  EXPECT_EQ(label("fileCountLabel")->text(), QStringLiteral("3 files"));
  EXPECT_TRUE(button("convertButton")->isEnabled());
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(table()->columnWidth(0), 667);  // 10000 twips once a path is listed
}

TEST_F(WindowTest, AddFilesTooManyShowsHowManyFit) {
  QStringList many;
  for (int i = 0; i < 60; ++i) many << QStringLiteral("/m/%1.msg").arg(i, 18, 10, QLatin1Char('0'));
  QtOpenFileDialog dialog(window.get(), [&](QWidget*, const QStringList&, bool) { return many; });
  window->setOpenFileDialog(&dialog);
  button("addFilesButton")->click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Please select only 43 files at a time");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Exclamation);
  EXPECT_FALSE(button("convertButton")->isEnabled());
  EXPECT_EQ(table()->item(0, 0), nullptr);
}

TEST_F(WindowTest, AddFolderFromTheRealFileSystem) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "parvane-win-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  fs::create_directories(root / "Sub" / "Deep");
  fs::create_directory(root / "alpha");
  for (const fs::path& p : {root / "b.MSG", root / "A.msg", root / "notes.txt",
                            root / "Sub" / "s.msg", root / "alpha" / "x.msg",
                            root / "Sub" / "Deep" / "d.msg"}) {
    std::ofstream(p) << "x";
  }
  fs::create_directory_symlink(root, root / "Sub" / "loop");

  FakeFolderDialog chooser;
  chooser.results.push_back(root.string());
  window->setFolderDialog(&chooser);
  button("addFolderButton")->click();

  const std::string r = root.string();
  const std::vector<std::string> expected{r + "/A.msg", r + "/b.MSG", r + "/alpha/x.msg",
                                          r + "/Sub/s.msg", r + "/Sub/Deep/d.msg"};
  std::vector<std::string> listed;
  for (int row = 0; row < table()->rowCount(); ++row) {
    listed.push_back(table()->item(row, 0)->text().toStdString());
  }
  EXPECT_EQ(listed, expected);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "5 Files Added to List.");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
  EXPECT_TRUE(button("convertButton")->isEnabled());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  ASSERT_EQ(chooser.titles.size(), 1u);
  EXPECT_EQ(chooser.titles[0], "Choose Source Folder...");
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

// Sends a drag onto the file list and then the drop; true when the drag was taken.
bool DropOnto(QWidget* list, const QList<QUrl>& urls) {
  QMimeData mime;
  mime.setUrls(urls);
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &enter);
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &drop);
  return enter.isAccepted() && drop.isAccepted();
}

TEST_F(WindowTest, DroppedFilesAndFoldersJoinTheListAsTheAddButtonsAddThem) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "parvane-drop-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  fs::create_directories(root / "Mail" / "Sub");
  for (const fs::path& p : {root / "Mail" / "a.msg", root / "Mail" / "Sub" / "b.MSG",
                            root / "Mail" / "notes.txt", root / "loose.msg", root / "photo.jpg"}) {
    std::ofstream(p) << "x";
  }
  const QString r = QString::fromStdString(root.string());
  EXPECT_TRUE(DropOnto(table()->viewport(),
                       {QUrl::fromLocalFile(r + "/loose.msg"), QUrl::fromLocalFile(r + "/Mail"),
                        QUrl::fromLocalFile(r + "/photo.jpg"),
                        QUrl(QStringLiteral("https://example.com/c.msg"))}));

  std::vector<std::string> listed;
  for (int row = 0; row < table()->rowCount(); ++row) {
    listed.push_back(table()->item(row, 0)->text().toStdString());
  }
  const std::string s = root.string();
  EXPECT_EQ(listed, (std::vector<std::string>{s + "/loose.msg", s + "/Mail/a.msg",
                                              s + "/Mail/Sub/b.MSG"}));
  EXPECT_EQ(label("fileCountLabel")->text(), QStringLiteral("3 files"));
  EXPECT_TRUE(button("convertButton")->isEnabled());
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, "3 Files Added to List.");
  EXPECT_EQ(messages.shown[1].text,
            "Only .msg files and folders can be added; these were not:\r\n" + s +
                "/photo.jpg\r\nhttps://example.com/c.msg");
  EXPECT_EQ(messages.shown[1].icon, MessageIcon::Exclamation);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

TEST_F(WindowTest, NoDropIsTakenWhileTheListButtonsWait) {
  // A run leaves the list buttons disabled until it ends.
  button("addFilesButton")->setEnabled(false);
  button("addFolderButton")->setEnabled(false);
  EXPECT_FALSE(DropOnto(table()->viewport(), {QUrl::fromLocalFile(QStringLiteral("/m/a.msg"))}));
  EXPECT_EQ(table()->item(0, 0), nullptr);
  EXPECT_EQ(label("fileCountLabel")->text(), QStringLiteral("0 files"));
  EXPECT_TRUE(messages.shown.empty());
  button("addFilesButton")->setEnabled(true);
  button("addFolderButton")->setEnabled(true);
  EXPECT_TRUE(DropOnto(table()->viewport(), {QUrl::fromLocalFile(QStringLiteral("/m/a.msg"))}));
  EXPECT_EQ(table()->item(0, 0)->text(), QStringLiteral("/m/a.msg"));
}

TEST_F(WindowTest, ExitDuringAFolderAddEndsAtOnce) {
  parvane::testing::MemoryFileSystem files('/');
  files.addFolder("/m");
  files.addFile("/m", "a.msg");
  files.addFile("/m", "b.msg");
  FakeFolderDialog chooser;
  chooser.results.push_back("/m");
  window->setFolderDialog(&chooser);
  window->setFileSystem(&files);
  // The exit arrives while the add yields: the end handler runs inside it.
  QTimer::singleShot(0, window.get(), [this] { window->close(); });
  button("addFolderButton")->click();
  EXPECT_EQ(exits, 1);
}

// Without a replacement, ending quits the application's event loop.
TEST(WindowEnd, ClosingQuitsTheEventLoop) {
  TestApp();
  MainWindow window;
  ScriptedMessageBox messages;
  window.setMessageBox(&messages);
  window.showCentred();
  QTimer::singleShot(0, &window, [&] { window.close(); });
  QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });  // never hang the suite
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(messages.shown.empty());
}

TEST(WindowEnd, ExitConfirmedQuitsTheEventLoop) {
  TestApp();
  MainWindow window;
  ScriptedMessageBox messages;
  messages.answers.push_back(MessageAnswer::Yes);
  window.setMessageBox(&messages);
  window.showCentred();
  QTimer::singleShot(0, &window, [&] { window.findChild<QPushButton*>("exitButton")->click(); });
  QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(window.isVisible());
}

// Ending while a click yields ends the process there: the click never resumes.
TEST(WindowEndDeathTest, ClosingDuringAFolderAddExitsAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        MainWindow window;
        ScriptedMessageBox messages;
        parvane::testing::MemoryFileSystem files('/');
        files.addFolder("/m");
        files.addFile("/m", "a.msg");
        FakeFolderDialog chooser;
        chooser.results.push_back("/m");
        window.setMessageBox(&messages);
        window.setFolderDialog(&chooser);
        window.setFileSystem(&files);
        QTimer::singleShot(0, &window, [&] { window.close(); });
        window.findChild<QPushButton*>("addFolderButton")->click();
        std::fprintf(stderr, "resumed\n");
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), ::testing::Not(::testing::HasSubstr("resumed")));
}

}  // namespace
}  // namespace parvane::app
