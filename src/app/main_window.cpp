#include "app/main_window.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QCloseEvent>
#include <QtGui/QDropEvent>
#include <QtGui/QFontInfo>
#include <QtGui/QIcon>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QTableWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/qt/dialogs.h"
#include "app/qt/widgets.h"
#include "app/no_store_service.h"
#include "app/replaceable_parts.h"
#include "app/window_layout.h"
#include "filelist/file_list.h"

namespace parvane::app {

namespace {

constexpr int kFallbackStretch = 88;  // percent

// Tahoma where it is installed, else a close sans-serif narrowed to Tahoma's
// width, so that every caption fits its control as it does in Tahoma.
QFont WindowFont(layout::FontStyle style) {
  const layout::Font tahoma = layout::FontOf(style);
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(tahoma.points);
  font.setBold(tahoma.bold);
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

QColor ToQColor(layout::Colour colour) { return QColor(colour.red, colour.green, colour.blue); }

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The window's control of that name and type, which the window has built.
template <class W>
W* Named(const QWidget* window, std::string_view name) {
  W* widget = window->findChild<W*>(ToQString(name));
  if (widget == nullptr) qFatal("no control %s", ToQString(name).toUtf8().constData());
  return widget;
}

// Places a control at its place in its container, given in twips.
void Place(QWidget* widget, const layout::Twips& place) {
  widget->setGeometry(TwipsToPixels(place.left), TwipsToPixels(place.top),
                      TwipsToPixels(place.width), TwipsToPixels(place.height));
}

// A rectangle shape: a solid fill with a one-pixel border.
class Shape : public QWidget {
 public:
  Shape(QWidget* parent, QColor fill, QColor border)
      : QWidget(parent), fill_(fill), border_(border) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
    painter.setPen(border_);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  QColor fill_, border_;
};

// Paints every cell in the cell colour, the current cell in the selection colour.
class CellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QColor selection = ToQColor(layout::kGridSelection);
    QStyleOptionViewItem cell(option);
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    painter->fillRect(option.rect, selected ? selection : ToQColor(layout::kGridCell));
    cell.state &= ~QStyle::State_HasFocus;
    cell.palette.setColor(QPalette::Highlight, selection);
    QStyledItemDelegate::paint(painter, cell, index);
  }
};

Qt::Alignment Alignment(layout::Align align) {
  switch (align) {
    case layout::Align::Centre:
      return Qt::AlignHCenter | Qt::AlignTop;
    case layout::Align::Right:
      return Qt::AlignRight | Qt::AlignTop;
    case layout::Align::Left:
      break;
  }
  return Qt::AlignLeft | Qt::AlignTop;
}

// Names a new control's widget and gives one that shows text its font.
template <class W>
W* Begin(W* widget, const layout::Control& control, bool showsText) {
  widget->setObjectName(ToQString(control.name));
  if (showsText) widget->setFont(WindowFont(control.font));
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const layout::Control& control) {
  auto* label = Begin(new QLabel(ToQString(control.caption), parent), control, true);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Alignment(control.align));
  label->setWordWrap(control.wraps);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const layout::Control& control) {
  auto* button = Begin(new QPushButton(ToQString(control.caption), parent), control, true);
  button->setAutoDefault(false);
  return button;
}

QTableWidget* MakeGrid(QWidget* parent, const layout::Control& control) {
  auto* grid = Begin(new QTableWidget(1, 1, parent), control, true);
  const QColor background = ToQColor(control.background.value_or(layout::kWhite));
  grid->horizontalHeader()->hide();
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setMinimumSectionSize(1);
  grid->verticalHeader()->setDefaultSectionSize(TwipsToPixels(layout::kGridRowHeight));
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  grid->setWordWrap(false);
  grid->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  grid->setItemDelegate(new CellDelegate(grid));
  QPalette palette = grid->palette();
  palette.setColor(QPalette::Base, background);
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Highlight, ToQColor(layout::kGridSelection));
  }
  grid->setPalette(palette);
  grid->setStyleSheet(QStringLiteral("QTableView { gridline-color: %1; background-color: %2; }")
                          .arg(ToQColor(layout::kGridLines).name(), background.name()));
  return grid;
}

QGroupBox* MakeFrame(QWidget* parent, const layout::Control& control) {
  auto* frame = Begin(new QGroupBox(ToQString(control.caption), parent), control, true);
  // The caption sits on the frame's top line, as a Windows frame draws it.
  frame->setStyleSheet(
      QStringLiteral(
          "QGroupBox#%1 { border: 1px solid rgb(160, 160, 160); border-radius: 2px;"
          " margin-top: 6px; }"
          "QGroupBox#%1::title { subcontrol-origin: margin; subcontrol-position: top left;"
          " left: 6px; padding: 0px 2px; }")
          .arg(frame->objectName()));
  return frame;
}

QProgressBar* MakeBar(QWidget* parent, const layout::Control& control) {
  auto* bar = Begin(new QProgressBar(parent), control, false);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

QWidget* MakeShape(QWidget* parent, const layout::Control& control) {
  return Begin(new Shape(parent, ToQColor(control.background.value_or(layout::kWhite)),
                         ToQColor(control.border.value_or(layout::kBlack))),
               control, false);
}

// The control's widget in `parent` as its kind shows it, with its colours,
// start state and place.
QWidget* MakeControl(QWidget* parent, const layout::Control& control) {
  QWidget* widget = nullptr;
  switch (control.kind) {
    case layout::Kind::Shape:
      widget = MakeShape(parent, control);
      break;
    case layout::Kind::Picture:
      widget = Begin(new QWidget(parent), control, false);
      break;
    case layout::Kind::Label:
      widget = MakeLabel(parent, control);
      break;
    case layout::Kind::Button:
      widget = MakeButton(parent, control);
      break;
    case layout::Kind::Grid:
      widget = MakeGrid(parent, control);
      break;
    case layout::Kind::Frame:
      widget = MakeFrame(parent, control);
      break;
    case layout::Kind::ProgressBar:
      widget = MakeBar(parent, control);
      break;
  }

  // Labels and pictures fill their own background; shapes and the grid paint theirs.
  const bool fills = control.kind == layout::Kind::Label || control.kind == layout::Kind::Picture;
  if ((fills && control.background) || control.text) {
    QPalette palette = widget->palette();
    if (fills && control.background) {
      widget->setAutoFillBackground(true);
      palette.setColor(QPalette::Window, ToQColor(*control.background));
    }
    if (control.text) palette.setColor(QPalette::WindowText, ToQColor(*control.text));
    widget->setPalette(palette);
  }
  if (!control.enabled) widget->setEnabled(false);
  Place(widget, control.place);
  return widget;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
  // The toolkit's own theming stands for the common-controls initialisation.
  buildControls();

  grid_ = std::make_unique<QtGrid>(fileList_);
  countLabel_ = std::make_unique<QtLabel>(fileCountLabel_);
  currentFolder_ = std::make_unique<QtLabel>(currentFolderLabel_);
  messageCount_ = std::make_unique<QtLabel>(messageCountLabel_);
  frameCaption_ = std::make_unique<QtFrameCaption>(progressFrame_);
  overallProgress_ = std::make_unique<QtProgressBar>(overallProgressBar_);
  fileProgress_ = std::make_unique<QtProgressBar>(fileProgressBar_);
  add_ = std::make_unique<QtButton>(addFilesButton_);
  addFolder_ = std::make_unique<QtButton>(addFolderButton_);
  clear_ = std::make_unique<QtButton>(clearListButton_);
  convert_ = std::make_unique<QtButton>(convertButton_);
  exit_ = std::make_unique<QtButton>(exitButton_);
  desktop_ = std::make_unique<QtDesktop>(this);
  qtMessages_ = std::make_unique<QtMessageBox>(this);
  qtOpenDialog_ = std::make_unique<QtOpenFileDialog>(this);
  qtFolderDialog_ = std::make_unique<QtFolderDialog>(this);
  noStore_ = std::make_unique<NoStoreService>();

  messages_ = std::make_unique<ReplaceableMessageBox>(*qtMessages_);
  openDialog_ = std::make_unique<ReplaceableOpenFileDialog>(*qtOpenDialog_);
  folderDialog_ = std::make_unique<ReplaceableFolderDialog>(*qtFolderDialog_);
  fileSystem_ = std::make_unique<ReplaceableFileSystem>(core::FileSystem::native());

  controller_ = std::make_unique<MainWindowController>(
      MainWindowControls{*grid_, *countLabel_, *frameCaption_, *currentFolder_, *overallProgress_,
                         *fileProgress_, *add_, *addFolder_, *clear_, *convert_, *exit_, *messages_,
                         *openDialog_, *folderDialog_, *desktop_, *fileSystem_},
      *noStore_);
  controller_->load();

  connect(addFilesButton_, &QPushButton::clicked, this,
          [this] { click(&MainWindowController::addFiles); });
  connect(addFolderButton_, &QPushButton::clicked, this,
          [this] { click(&MainWindowController::addFolder); });
  connect(clearListButton_, &QPushButton::clicked, this,
          [this] { click(&MainWindowController::clearList); });
  connect(convertButton_, &QPushButton::clicked, this, [this] { convertClicked(); });
  connect(saveReportButton_, &QPushButton::clicked, this, [this] { saveReportClicked(); });
  connect(exitButton_, &QPushButton::clicked, this, [this] { exitClicked(); });

  // Files and folders dragged from the desktop onto the file list.
  fileList_->setAcceptDrops(true);
  fileList_->viewport()->setAcceptDrops(true);
  fileList_->viewport()->installEventFilter(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls() {
  setObjectName(ToQString(layout::kWindowName));
  setWindowTitle(QString::fromLatin1(filelist::kAppTitle));
  setWindowIcon(ApplicationIcon());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(WindowFont(layout::FontStyle::Body));

  std::vector<std::pair<QWidget*, int>> tabStops;
  for (const layout::Control& control : layout::kControls) {
    QWidget* parent = control.container.empty() ? this : Named<QWidget>(this, control.container);
    QWidget* widget = MakeControl(parent, control);
    if (control.tabIndex >= 0) tabStops.emplace_back(widget, control.tabIndex);
  }
  // The white bands lie beneath every other control.
  for (const layout::Control& control : layout::kControls) {
    if (control.kind == layout::Kind::Shape) Named<QWidget>(this, control.name)->lower();
  }
  std::sort(tabStops.begin(), tabStops.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  for (std::size_t i = 1; i < tabStops.size(); ++i) {
    QWidget::setTabOrder(tabStops[i - 1].first, tabStops[i].first);
  }

  addFilesButton_ = Named<QPushButton>(this, "addFilesButton");
  addFolderButton_ = Named<QPushButton>(this, "addFolderButton");
  clearListButton_ = Named<QPushButton>(this, "clearListButton");
  convertButton_ = Named<QPushButton>(this, "convertButton");
  exitButton_ = Named<QPushButton>(this, "exitButton");
  fileCountLabel_ = Named<QLabel>(this, "fileCountLabel");
  currentFolderLabel_ = Named<QLabel>(this, "currentFolderLabel");
  messageCountLabel_ = Named<QLabel>(this, "messageCountLabel");
  progressFrame_ = Named<QGroupBox>(this, "progressFrame");
  overallProgressBar_ = Named<QProgressBar>(this, "overallProgressBar");
  fileProgressBar_ = Named<QProgressBar>(this, "fileProgressBar");
  fileList_ = Named<QTableWidget>(this, "fileList");
  firstTabStop_ = Named<QWidget>(this, layout::FirstTabStop().name);
  saveReportButton_ = static_cast<QPushButton*>(MakeControl(this, layout::kSaveReportButton));
  saveReportButton_->hide();

  firstTabStop_->setFocus();
}

platform::Grid& MainWindow::grid() { return *grid_; }
platform::Label& MainWindow::countLabel() { return *countLabel_; }
platform::Label& MainWindow::frameCaption() { return *frameCaption_; }
platform::Label& MainWindow::currentFolderLabel() { return *currentFolder_; }
platform::Label& MainWindow::messageCountLabel() { return *messageCount_; }
platform::ProgressBar& MainWindow::overallProgressBar() { return *overallProgress_; }
platform::ProgressBar& MainWindow::fileProgressBar() { return *fileProgress_; }
platform::Button& MainWindow::convertButton() { return *convert_; }
platform::Desktop& MainWindow::desktop() { return *desktop_; }
platform::MessageBox& MainWindow::messageBox() { return messages_->current(); }
platform::OpenFileDialog& MainWindow::openFileDialog() { return openDialog_->current(); }
platform::FolderDialog& MainWindow::folderDialog() { return folderDialog_->current(); }
core::FileSystem& MainWindow::fileSystem() { return fileSystem_->current(); }

void MainWindow::setMessageBox(platform::MessageBox* messages) { messages_->replace(messages); }
void MainWindow::setOpenFileDialog(platform::OpenFileDialog* dialog) {
  openDialog_->replace(dialog);
}
void MainWindow::setFolderDialog(platform::FolderDialog* dialog) {
  folderDialog_->replace(dialog);
}
void MainWindow::setFileSystem(core::FileSystem* fileSystem) {
  fileSystem_->replace(fileSystem);
}
void MainWindow::setStoreService(conversion::StoreService* store) {
  controller_->setStoreService(store != nullptr ? *store : *noStore_);
}
void MainWindow::setExitHandler(std::function<void()> handler) {
  exitHandler_ = std::move(handler);
}
void MainWindow::setReportPathChooser(std::function<std::string(const std::string&)> chooser) {
  reportPathChooser_ = std::move(chooser);
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

void MainWindow::click(void (MainWindowController::*handler)()) {
  if (ended_) return;
  // The window and its controller stay alive while the handler yields: ending
  // inside it leaves the process without returning here.
  Running running(running_);
  (controller_.get()->*handler)();
}

bool MainWindow::takesDrops() const {
  return !ended_ && running_ == 0 && addFilesButton_->isEnabled() && addFolderButton_->isEnabled();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched != fileList_->viewport()) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (takesDrops() && drag->mimeData()->hasUrls()) {
        drag->acceptProposedAction();
      } else {
        drag->ignore();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (!takesDrops() || !drop->mimeData()->hasUrls()) {
        drop->ignore();
        return true;
      }
      std::vector<std::string> paths, unusable;
      for (const QUrl& url : drop->mimeData()->urls()) {
        if (url.isLocalFile()) {
          paths.push_back(QDir::toNativeSeparators(url.toLocalFile()).toStdString());
        } else {
          unusable.push_back(url.toDisplayString().toStdString());
        }
      }
      drop->acceptProposedAction();
      // As a click: the window stays alive while the folder walk yields.
      Running running(running_);
      controller_->addDropped(paths, unusable);
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void MainWindow::convertClicked() {
  if (ended_) return;
  saveReportButton_->hide();
  click(&MainWindowController::convert);
  if (!ended_ && controller_->lastRun()) saveReportButton_->show();
}

void MainWindow::saveReportClicked() {
  if (ended_ || running_ > 0) return;
  Running running(running_);
  const std::string suggested = controller_->suggestedReportPath();
  const std::string path =
      reportPathChooser_
          ? reportPathChooser_(suggested)
          : QFileDialog::getSaveFileName(this, QString::fromLatin1(layout::kSaveReportTitle),
                                         QString::fromStdString(suggested),
                                         QStringLiteral("JSON Lines (*.jsonl);;All files (*)"))
                .toStdString();
  if (!path.empty()) controller_->saveReport(path);
}

void MainWindow::exitClicked() {
  if (ended_) return;
  if (controller_->askToExit()) endProgram();
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
  firstTabStop_->setFocus();
}

}  // namespace parvane::app
