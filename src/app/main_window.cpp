#include "app/main_window.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QCloseEvent>
#include <QtGui/QFontInfo>
#include <QtGui/QIcon>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QTableWidget>

#include <cstdio>
#include <cstdlib>

#include "app/qt/dialogs.h"
#include "app/qt/widgets.h"
#include "app/replaceable_parts.h"
#include "filelist/file_list.h"
#include "platform/posix_file_system.h"

namespace parvane::app {

namespace {

const QColor kPaleYellow(255, 255, 191);
const QColor kNavy(0, 0, 128);
const QColor kGridLines(192, 192, 192);
constexpr int kFallbackStretch = 88;  // percent

// Tahoma where it is installed, else a close sans-serif narrowed to Tahoma's
// width, so that every caption fits its control as it does in Tahoma.
QFont WindowFont(qreal points, bool bold = false) {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(points);
  font.setBold(bold);
  if (QFontInfo(font).family().compare(QStringLiteral("Tahoma"), Qt::CaseInsensitive) != 0) {
    font.setStretch(kFallbackStretch);
  }
  return font;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/parvane/icons/parvane-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

// Places a control at a position and size given in twips.
void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                      TwipsToPixels(height));
}

// A rectangle shape: solid white fill with a one-pixel border.
class Shape : public QWidget {
 public:
  Shape(QWidget* parent, QColor border) : QWidget(parent), border_(border) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(border_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  QColor border_;
};

// Paints every cell pale yellow, selected cells navy.
class CellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell(option);
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    painter->fillRect(option.rect, selected ? kNavy : kPaleYellow);
    cell.state &= ~QStyle::State_HasFocus;
    cell.palette.setColor(QPalette::Highlight, kNavy);
    QStyledItemDelegate::paint(painter, cell, index);
  }
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(WindowFont(8.25));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setFont(WindowFont(8.25));
  button->setAutoDefault(false);
  return button;
}

QProgressBar* MakeBar(QWidget* parent, const char* name) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
  // The toolkit's own theming stands for the common-controls initialisation.
  buildControls();

  grid_ = std::make_unique<QtGrid>(grdFiles1_);
  countLabel_ = std::make_unique<QtLabel>(lblCount1_);
  currentLabel_ = std::make_unique<QtLabel>(lblCurrentDBX_);
  progressLabel_ = std::make_unique<QtLabel>(lblProgessCurrent_);
  frameCaption_ = std::make_unique<QtFrameCaption>(frameConversion_);
  bar1_ = std::make_unique<QtProgressBar>(progressBar1_);
  bar2_ = std::make_unique<QtProgressBar>(progressBar2_);
  add_ = std::make_unique<QtButton>(cmdAdd_);
  addFolder_ = std::make_unique<QtButton>(cmdAddFolder_);
  clear_ = std::make_unique<QtButton>(cmdClear1_);
  convert_ = std::make_unique<QtButton>(cmdExtractDBX_);
  end_ = std::make_unique<QtButton>(cmdEnd_);
  desktop_ = std::make_unique<QtDesktop>(this);
  qtMessages_ = std::make_unique<QtMessageBox>(this);
  qtOpenDialog_ = std::make_unique<QtOpenFileDialog>(this);
  qtFolderDialog_ = std::make_unique<QtFolderDialog>(this);
  posixFileSystem_ = std::make_unique<platform::PosixFileSystem>();
  noMailStore_ = std::make_unique<NoMailStore>();

  messages_ = std::make_unique<ReplaceableMessageBox>(*qtMessages_);
  openDialog_ = std::make_unique<ReplaceableOpenFileDialog>(*qtOpenDialog_);
  folderDialog_ = std::make_unique<ReplaceableFolderDialog>(*qtFolderDialog_);
  fileSystem_ = std::make_unique<ReplaceableFileSystem>(*posixFileSystem_);
  factory_ = std::make_unique<ReplaceableObjectFactory>(*noMailStore_);

  controller_ = std::make_unique<FrmStep1>(
      FrmStep1Controls{*grid_, *countLabel_, *frameCaption_, *currentLabel_, *bar1_, *bar2_,
                       *add_, *addFolder_, *clear_, *convert_, *end_, *messages_, *openDialog_,
                       *folderDialog_, *desktop_, *fileSystem_},
      *factory_);
  controller_->Form_Load();

  connect(cmdAdd_, &QPushButton::clicked, this, [this] { click(&FrmStep1::cmdAdd_Click); });
  connect(cmdAddFolder_, &QPushButton::clicked, this,
          [this] { click(&FrmStep1::CmdAddFolder_Click); });
  connect(cmdClear1_, &QPushButton::clicked, this, [this] { click(&FrmStep1::cmdClear1_Click); });
  connect(cmdExtractDBX_, &QPushButton::clicked, this,
          [this] { click(&FrmStep1::CmdExtractDBX_Click); });
  connect(cmdEnd_, &QPushButton::clicked, this, [this] { cmdEndClick(); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
  setObjectName(QStringLiteral("frmStep1"));
  setWindowTitle(QString::fromLatin1(filelist::kAppTitle));
  setWindowIcon(ApplicationIcon());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(WindowFont(8.25));

  // The white bands lie beneath every other control.
  auto* shape2 = new Shape(this, QColor(128, 128, 128));
  shape2->setObjectName(QStringLiteral("Shape2"));
  Place(shape2, -120, 0, 8415, 855);
  auto* shape1 = new Shape(this, QColor(192, 192, 192));
  shape1->setObjectName(QStringLiteral("Shape1"));
  Place(shape1, 0, 6120, 8415, 855);

  auto* lblTitle = MakeLabel(this, "lblTitle", QString::fromLatin1(filelist::kAppTitle));
  lblTitle->setFont(WindowFont(14.25, true));
  lblTitle->setAutoFillBackground(true);
  QPalette titlePalette = lblTitle->palette();
  titlePalette.setColor(QPalette::Window, Qt::white);
  titlePalette.setColor(QPalette::WindowText, Qt::black);
  lblTitle->setPalette(titlePalette);
  Place(lblTitle, 240, 120, 6255, 375);

  cmdAdd_ = MakeButton(this, "cmdAdd", QStringLiteral("Add MSG File(s)..."));
  Place(cmdAdd_, 240, 960, 1815, 375);
  cmdAddFolder_ = MakeButton(this, "CmdAddFolder", QStringLiteral("Add Folder having MSG File(s)..."));
  Place(cmdAddFolder_, 2400, 960, 2775, 375);
  cmdClear1_ = MakeButton(this, "cmdClear1", QStringLiteral("Clear File(s)..."));
  Place(cmdClear1_, 6240, 960, 1695, 375);

  lblCount1_ = MakeLabel(this, "lblCount1", QStringLiteral("0 files"));
  Place(lblCount1_, 270, 1560, 4335, 255);

  grdFiles1_ = new QTableWidget(1, 1, this);
  grdFiles1_->setObjectName(QStringLiteral("grdFiles1"));
  grdFiles1_->setFont(WindowFont(8.25));
  grdFiles1_->horizontalHeader()->hide();
  grdFiles1_->verticalHeader()->hide();
  grdFiles1_->verticalHeader()->setMinimumSectionSize(1);
  grdFiles1_->verticalHeader()->setDefaultSectionSize(TwipsToPixels(240));
  grdFiles1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdFiles1_->setSelectionMode(QAbstractItemView::SingleSelection);
  grdFiles1_->setSelectionBehavior(QAbstractItemView::SelectItems);
  grdFiles1_->setWordWrap(false);
  grdFiles1_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  grdFiles1_->setItemDelegate(new CellDelegate(grdFiles1_));
  QPalette gridPalette = grdFiles1_->palette();
  gridPalette.setColor(QPalette::Base, Qt::white);
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    gridPalette.setColor(group, QPalette::Highlight, kNavy);
  }
  grdFiles1_->setPalette(gridPalette);
  grdFiles1_->setStyleSheet(QStringLiteral("QTableView { gridline-color: %1; background-color: white; }")
                                .arg(kGridLines.name()));
  Place(grdFiles1_, 240, 1800, 7695, 1575);

  frameConversion_ = new QGroupBox(QStringLiteral("Details"), this);
  frameConversion_->setObjectName(QStringLiteral("FrameConversion"));
  frameConversion_->setFont(WindowFont(8.25));
  // The caption sits on the frame's top line, as a Windows frame draws it.
  frameConversion_->setStyleSheet(QStringLiteral(
      "QGroupBox#FrameConversion { border: 1px solid rgb(160, 160, 160); border-radius: 2px;"
      " margin-top: 6px; }"
      "QGroupBox#FrameConversion::title { subcontrol-origin: margin; subcontrol-position: top left;"
      " left: 6px; padding: 0px 2px; }"));
  Place(frameConversion_, 240, 3480, 7695, 1815);
  lblCurrentDBX_ = MakeLabel(frameConversion_, "LblCurrentDBX", QStringLiteral("Converting Messages..."));
  Place(lblCurrentDBX_, 120, 240, 7455, 255);
  lblProgessCurrent_ = MakeLabel(frameConversion_, "LblProgessCurrent", QStringLiteral("Message 0 (of 0)"));
  QPalette black = lblProgessCurrent_->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  lblProgessCurrent_->setPalette(black);
  Place(lblProgessCurrent_, 1800, 600, 5775, 255);
  auto* label2 = MakeLabel(frameConversion_, "Label2", QStringLiteral("Current File Progress : "));
  Place(label2, 120, 960, 1695, 255);
  progressBar2_ = MakeBar(frameConversion_, "ProgressBar2");
  Place(progressBar2_, 1800, 960, 5775, 255);
  auto* label1 = MakeLabel(frameConversion_, "Label1", QStringLiteral("Overall Progress        : "));
  Place(label1, 120, 1320, 1695, 255);
  progressBar1_ = MakeBar(frameConversion_, "ProgressBar1");
  Place(progressBar1_, 1800, 1320, 5775, 255);

  cmdExtractDBX_ = MakeButton(this, "CmdExtractDBX", QStringLiteral("Convert &Messages"));
  cmdExtractDBX_->setEnabled(false);
  Place(cmdExtractDBX_, 2880, 5520, 2415, 435);

  auto* picture3 = new QWidget(this);
  picture3->setObjectName(QStringLiteral("Picture3"));
  picture3->setAutoFillBackground(true);
  QPalette white = picture3->palette();
  white.setColor(QPalette::Window, Qt::white);
  picture3->setPalette(white);
  Place(picture3, 240, 6240, 7695, 495);
  cmdEnd_ = MakeButton(picture3, "cmdEnd", QStringLiteral("E&xit"));
  Place(cmdEnd_, 6360, 0, 1335, 375);

  shape2->lower();
  shape1->lower();

  QWidget::setTabOrder(cmdAdd_, cmdClear1_);
  QWidget::setTabOrder(cmdClear1_, cmdAddFolder_);
  QWidget::setTabOrder(cmdAddFolder_, grdFiles1_);
  QWidget::setTabOrder(grdFiles1_, cmdExtractDBX_);
  QWidget::setTabOrder(cmdExtractDBX_, cmdEnd_);

  cmdAdd_->setFocus();
}

platform::Grid& MainWindow::grid() { return *grid_; }
platform::Label& MainWindow::countLabel() { return *countLabel_; }
platform::Label& MainWindow::frameCaption() { return *frameCaption_; }
platform::Label& MainWindow::currentLabel() { return *currentLabel_; }
platform::Label& MainWindow::progressLabel() { return *progressLabel_; }
platform::ProgressBar& MainWindow::progressBar1() { return *bar1_; }
platform::ProgressBar& MainWindow::progressBar2() { return *bar2_; }
platform::Button& MainWindow::convertButton() { return *convert_; }
platform::Desktop& MainWindow::desktop() { return *desktop_; }
platform::MessageBox& MainWindow::messageBox() { return messages_->current(); }
platform::OpenFileDialog& MainWindow::openFileDialog() { return openDialog_->current(); }
platform::FolderDialog& MainWindow::folderDialog() { return folderDialog_->current(); }
const platform::FileSystem& MainWindow::fileSystem() { return fileSystem_->current(); }
platform::ObjectFactory& MainWindow::objectFactory() { return factory_->current(); }

void MainWindow::setMessageBox(platform::MessageBox* messages) { messages_->replace(messages); }
void MainWindow::setOpenFileDialog(platform::OpenFileDialog* dialog) {
  openDialog_->replace(dialog);
}
void MainWindow::setFolderDialog(platform::FolderDialog* dialog) {
  folderDialog_->replace(dialog);
}
void MainWindow::setFileSystem(const platform::FileSystem* fileSystem) {
  fileSystem_->replace(fileSystem);
}
void MainWindow::setObjectFactory(platform::ObjectFactory* factory) { factory_->replace(factory); }
void MainWindow::setExitHandler(std::function<void()> handler) {
  exitHandler_ = std::move(handler);
}
void MainWindow::setEndHook(std::function<void()> hook) { endHook_ = std::move(hook); }

namespace {

// Counts the click handlers running (more than one while a handler yields).
class Running {
 public:
  explicit Running(int& count) : count_(count) { ++count_; }
  ~Running() { --count_; }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  int& count_;
};

}  // namespace

void MainWindow::click(void (FrmStep1::*handler)()) {
  if (ended_) return;
  // The window and its controller stay alive while the handler yields: ending
  // inside it leaves the process without returning here.
  Running running(running_);
  (controller_.get()->*handler)();
}

void MainWindow::cmdEndClick() {
  if (ended_) return;
  if (controller_->cmdEnd_Click()) endProgram();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  endProgram();
}

void MainWindow::endProgram() {
  if (ended_) return;
  ended_ = true;
  if (exitHandler_) {
    exitHandler_();
    return;
  }
  hide();
  desktop_->setBusyPointer(false);
  if (endHook_) endHook_();
  if (running_ > 0) {
    // Inside a click that yields: never return into it; the process ends here.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  QCoreApplication::exit(0);
}

void MainWindow::showCentred() {
  if (QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
  show();
  cmdAdd_->setFocus();
}

}  // namespace parvane::app
