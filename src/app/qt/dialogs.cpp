#include "app/qt/dialogs.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QFileDialog>

#include "filelist/add_files.h"
#include "platform/folder_paths.h"

namespace parvane::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Native(const QString& path) { return QDir::toNativeSeparators(path).toStdString(); }

constexpr std::int32_t kAllowMultiSelect = 0x200;

// Swallows the Escape key, which would otherwise answer a Yes/No box with No.
class IgnoreEscape : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
      if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) return true;
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& text,
                                             platform::MessageButtons buttons,
                                             platform::MessageIcon icon, const std::string& title) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(Q(title));
  box->setTextFormat(Qt::PlainText);
  box->setText(Q(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  switch (icon) {
    case platform::MessageIcon::None: box->setIcon(QMessageBox::NoIcon); break;
    case platform::MessageIcon::Question: box->setIcon(QMessageBox::Question); break;
    case platform::MessageIcon::Information: box->setIcon(QMessageBox::Information); break;
    case platform::MessageIcon::Exclamation: box->setIcon(QMessageBox::Warning); break;
  }
  if (buttons == platform::MessageButtons::YesNo) {
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::Yes);
    // No Cancel: only Yes or No closes the box.
    box->setWindowFlag(Qt::WindowCloseButtonHint, false);
    box->installEventFilter(new IgnoreEscape(box.get()));
  } else {
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
  }
  return box;
}

platform::MessageAnswer QtMessageBox::show(const std::string& text,
                                           platform::MessageButtons buttons,
                                           platform::MessageIcon icon, const std::string& title) {
  auto box = BuildMessageBox(parent_.data(), text, buttons, icon, title);
  box->exec();
  if (buttons == platform::MessageButtons::Ok) return platform::MessageAnswer::Ok;
  return box->clickedButton() == box->button(QMessageBox::Yes) ? platform::MessageAnswer::Yes
                                                               : platform::MessageAnswer::No;
}

QStringList NameFilters(const std::string& filter) {
  QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString suffix = QStringLiteral("(%1)").arg(parts[i + 1]);
    filters << (parts[i].trimmed().endsWith(suffix) ? parts[i]
                                                    : parts[i] + QLatin1Char(' ') + suffix);
  }
  return filters;
}

std::string ComposeOpenResult(const std::vector<std::string>& fullPaths) {
  if (fullPaths.empty()) return {};
  if (fullPaths.size() == 1) return fullPaths[0];
  // The deepest folder holding every path (the dialog's own folder).
  QString folder = QFileInfo(Q(fullPaths[0])).absolutePath();
  const auto holds = [](const QString& dir, const QString& path) {
    return dir.endsWith(QLatin1Char('/')) ? path.startsWith(dir) : path.startsWith(dir + '/');
  };
  for (const std::string& p : fullPaths) {
    const QString path = QDir::fromNativeSeparators(Q(p));
    while (!holds(folder, path)) {
      const QString up = QFileInfo(folder).absolutePath();
      if (up == folder) break;
      folder = up;
    }
  }
  std::string result = Native(folder);
  for (const std::string& p : fullPaths) {
    result.push_back('\0');
    result += Native(QDir(folder).relativeFilePath(QDir::fromNativeSeparators(Q(p))));
  }
  return result;
}

std::int32_t NamesThatFit(const std::string& result, std::int32_t maxChars) {
  const QStringList parts = Q(result).split(QChar(u'\0'));
  if (parts.size() == 1) return parts[0].size() + 1 <= maxChars ? 1 : 0;
  qsizetype used = parts[0].size() + 1 + 1;  // the folder, its NUL, the closing NUL
  std::int32_t fit = 0;
  for (qsizetype i = 1; i < parts.size(); ++i) {
    used += parts[i].size() + 1;
    if (used > maxChars) break;
    ++fit;
  }
  return fit;
}

QtOpenFileDialog::QtOpenFileDialog(QWidget* parent, Chooser chooser)
    : parent_(parent), chooser_(std::move(chooser)) {
  if (!chooser_) {
    chooser_ = [](QWidget* owner, const QStringList& filters, bool multiple) {
      const QString filter = filters.join(QStringLiteral(";;"));
      if (multiple) return QFileDialog::getOpenFileNames(owner, QString(), QString(), filter);
      const QString one = QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
      return one.isEmpty() ? QStringList() : QStringList{one};
    };
  }
}

void QtOpenFileDialog::showOpen() {
  const QStringList chosen =
      chooser_(parent_.data(), NameFilters(filter_), (flags_ & kAllowMultiSelect) != 0);
  std::vector<std::string> paths;
  for (const QString& path : chosen) paths.push_back(Native(path));
  const std::string result = ComposeOpenResult(paths);
  if (result.empty()) {
    fileName_.clear();
    return;
  }
  const QStringList parts = Q(result).split(QChar(u'\0'));
  const std::int32_t names = parts.size() == 1 ? 1 : static_cast<std::int32_t>(parts.size() - 1);
  const std::int32_t fit = NamesThatFit(result, maxFileSize_);
  if (fit < names) throw filelist::SelectionTooLongError(fit);
  fileName_ = result;
}

QtFolderDialog::QtFolderDialog(QWidget* parent, Chooser chooser)
    : parent_(parent), chooser_(std::move(chooser)) {
  if (!chooser_) {
    chooser_ = [](QWidget* owner, const QString& title) {
      return QFileDialog::getExistingDirectory(owner, title, QString(),
                                               QFileDialog::ShowDirsOnly);
    };
  }
}

std::string QtFolderDialog::browse(std::intptr_t, const std::string& title) {
  const QString chosen = chooser_(parent_.data(), Q(title));
  if (chosen.isEmpty()) return {};
  return Native(chosen);
}

QtDesktop::QtDesktop(QWidget* mainWindow, int yieldIntervalMs)
    : window_(mainWindow), yieldInterval_(yieldIntervalMs) {}

QtDesktop::~QtDesktop() {
  if (busy_) QGuiApplication::restoreOverrideCursor();
}

void QtDesktop::setBusyPointer(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
}

void QtDesktop::yield() {
  if (sinceYield_.isValid() && sinceYield_.elapsed() < yieldInterval_) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  sinceYield_.start();
}

std::intptr_t QtDesktop::mainWindowHandle() const {
  return window_ ? static_cast<std::intptr_t>(window_->winId()) : 0;
}

}  // namespace parvane::app
