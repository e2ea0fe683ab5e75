// Dialogs: the message box, the input box and the common file dialog. Each
// runs its own nested loop; under scripting the answer is given from inside
// that loop, the same way a user's click would arrive.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <cstdio>

#include "platform/base/internal.h"
#include "platform/ui/ui_core.h"

namespace ui {
namespace detail {
namespace {

// "description|pattern|description|pattern" to Qt's "description (pattern)"
// list, each pattern shown once: a description that is the pattern itself
// ("*.xls;*.xlsx") or already ends with it in brackets ("图片文件(*.jpg)")
// is not followed by it again.
QStringList qtFilters(const QString& filter) {
  QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    QString description = parts[i].trimmed();
    QString named = description;
    named.replace(';', ' ');
    if (named.isEmpty() || named == patterns)
      out << patterns;
    else if (named.endsWith("(" + patterns + ")"))
      out << named;
    else
      out << description + " (" + patterns + ")";
  }
  if (parts.size() % 2 == 1 && !parts.last().isEmpty()) out << parts.last();
  return out;
}

// The file list of the file dialog in Chinese: the column names, the type
// of each entry, sizes in bytes, KB, MB and GB, and dates as the Chinese
// locale writes them.
class ChineseFileColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  enum Column { Name, Size, Type, Modified };

  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && role == Qt::DisplayRole) {
      switch (section) {
        case Name:
          return QStringLiteral("名称");
        case Size:
          return QStringLiteral("大小");
        case Type:
          return QStringLiteral("类型");
        case Modified:
          return QStringLiteral("修改日期");
        default:
          break;
      }
    }
    return QIdentityProxyModel::headerData(section, o, role);
  }

  QVariant data(const QModelIndex& index, int role) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || index.column() == Name)
      return QIdentityProxyModel::data(index, role);
    const QFileInfo info = files->fileInfo(mapToSource(index));
    switch (index.column()) {
      case Size:
        return info.isDir() ? QString() : sizeText(info.size());
      case Type:
        if (info.isDir()) return QStringLiteral("文件夹");
        return info.suffix().isEmpty() ? QStringLiteral("文件")
                                       : info.suffix().toUpper() + QStringLiteral(" 文件");
      case Modified:
        return QLocale(QLocale::Chinese, QLocale::China)
            .toString(info.lastModified(), QLocale::ShortFormat);
      default:
        return QIdentityProxyModel::data(index, role);
    }
  }

  static QString sizeText(qint64 bytes) {
    if (bytes < 1024) return QString::number(bytes) + QStringLiteral(" 字节");
    const char* const units[] = {"KB", "MB", "GB", "TB"};
    double v = bytes / 1024.0;
    int u = 0;
    while (v >= 1024 && u < 3) {
      v /= 1024;
      ++u;
    }
    return QString::number(v, 'f', v < 10 ? 2 : v < 100 ? 1 : 0) + " " + units[u];
  }
};

// The answer's path with the default extension when it has none.
QString withDefaultExt(const QString& path, const QString& ext) {
  if (path.isEmpty() || ext.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
  QString e = ext.startsWith('.') ? ext.mid(1) : ext;
  return path + "." + e;
}

}  // namespace

bool loadStandardTranslations() {
  if (!qApp) return false;
  // The open and save dialogs, the overwrite question and the standard
  // buttons: Qt's own catalogue for simplified Chinese.
  static QTranslator* translator = nullptr;
  if (translator) return true;
  auto* t = new QTranslator(qApp);
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!t->load(QStringLiteral("qt_zh_CN"), dir) && !t->load(QStringLiteral("qtbase_zh_CN"), dir)) {
    std::fprintf(stderr,
                 "form runtime: Qt's Chinese translations are not installed in %s; the standard "
                 "dialogs speak English\n",
                 dir.toLocal8Bit().constData());
    delete t;
    return false;
  }
  QCoreApplication::installTranslator(t);
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  translator = t;
  return true;
}

}  // namespace detail

using namespace detail;

int messageBox(const Text& text, const Text& title, int buttons, int flags) {
  initRuntime();
  Text shownTitle = title.empty() ? Text::fromUtf8("信息：") : title;
  QMessageBox box(flags & kInformationIcon ? QMessageBox::Information : QMessageBox::NoIcon,
                  toQt(shownTitle), toQt(text),
                  buttons == kOkCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  if (flags & kSystemModal) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.setEscapeButton(buttons == kOkCancel ? QMessageBox::Cancel : QMessageBox::Ok);
  if (gScripting) {
    DialogScript::record({"message", text, shownTitle, buttons, flags});
    std::optional<int> answer = DialogScript::nextMessage();
    QTimer::singleShot(0, &box, [&box, answer, buttons] {
      DialogScript::runDuringDialog();
      bool cancel = answer && *answer == kResultCancel && buttons == kOkCancel;
      // A box closed from outside returns no button: press the button.
      if (QAbstractButton* b = box.button(cancel ? QMessageBox::Cancel : QMessageBox::Ok))
        b->click();
    });
  }
  {
    DialogOwner owner(&box);
    box.exec();
  }
  QAbstractButton* clicked = box.clickedButton();
  if (clicked && clicked == box.button(QMessageBox::Cancel)) return kResultCancel;
  if (!clicked && buttons == kOkCancel) return kResultCancel;
  return kResultOk;
}

bool inputBox(const Text& prompt, const Text& title, const Text& initial, Text* out) {
  initRuntime();
  QInputDialog dlg;
  dlg.setInputMode(QInputDialog::TextInput);
  dlg.setLabelText(toQt(prompt));
  dlg.setWindowTitle(toQt(title));
  dlg.setTextValue(toQt(initial));
  dlg.setWindowModality(Qt::ApplicationModal);
  if (gScripting) {
    DialogScript::record({"input", prompt, title, kOkCancel, 0});
    auto answer = DialogScript::nextInput();
    QTimer::singleShot(0, &dlg, [&dlg, answer] {
      DialogScript::runDuringDialog();
      if (answer && answer->first) {
        dlg.setTextValue(toQt(answer->second));
        dlg.accept();
      } else if (answer) {
        dlg.reject();
      } else {
        dlg.accept();  // unscripted: OK with the text as it stands
      }
    });
  }
  bool ok = false;
  {
    DialogOwner owner(&dlg);
    ok = dlg.exec() == QDialog::Accepted;
  }
  if (out) *out = ok ? fromQt(dlg.textValue()) : Text();
  return ok;
}

// --- Common file dialog --------------------------------------------------------------------

namespace {
ControlDesc* dialogDesc(const Control& c) {
  ControlDesc* d = controlOrWarn(c.window(), c.name());
  if (!d || !onUiThread()) return nullptr;
  WindowDesc* w = findWindow(c.window());
  if (!w || !w->open || d->decl.type != "fileDialog") return nullptr;
  return d;
}
}  // namespace

void Control::setDialogSave(bool save) {
  if (ControlDesc* d = dialogDesc(*this)) d->dialogSave = save;
}
void Control::setFilter(const Text& filter) {
  if (ControlDesc* d = dialogDesc(*this)) d->filter = toQt(filter);
}
void Control::setDefaultExt(const Text& ext) {
  if (ControlDesc* d = dialogDesc(*this)) d->defaultExt = toQt(ext);
}
void Control::setFileName(const Text& name) {
  if (ControlDesc* d = dialogDesc(*this)) d->fileName = toQt(name);
}
Text Control::fileName() const {
  ControlDesc* d = dialogDesc(*this);
  return d ? fromQt(d->fileName) : Text();
}
void Control::setKeepCurrentDir(bool keep) {
  if (ControlDesc* d = dialogDesc(*this)) d->keepCurrentDir = keep;
}

bool Control::showDialog() {
  ControlDesc* d = dialogDesc(*this);
  if (!d) return false;
  QFileDialog dlg;
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  dlg.setProxyModel(new ChineseFileColumns(&dlg));
  // The size, type and date columns as wide as what they show.
  if (auto* view = dlg.findChild<QTreeView*>(QStringLiteral("treeView")))
    for (int col :
         {ChineseFileColumns::Size, ChineseFileColumns::Type, ChineseFileColumns::Modified})
      view->header()->setSectionResizeMode(col, QHeaderView::ResizeToContents);
  dlg.setAcceptMode(d->dialogSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(d->dialogSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  QStringList filters = qtFilters(d->filter);
  if (!filters.isEmpty()) dlg.setNameFilters(filters);
  if (!d->defaultExt.isEmpty()) dlg.setDefaultSuffix(d->defaultExt);
  if (!d->fileName.isEmpty()) dlg.selectFile(d->fileName);
  dlg.setWindowModality(Qt::ApplicationModal);
  QString chosen;
  bool ok = false;
  DialogOwner owner(&dlg);
  if (gScripting) {
    DialogScript::record({"file", fromQt(d->filter), Text(), d->dialogSave ? 1 : 0, 0});
    auto answer = DialogScript::nextFile();
    QTimer::singleShot(0, &dlg, [&dlg, &chosen, &ok, answer] {
      DialogScript::runDuringDialog();
      ok = answer && answer->first;
      if (ok) chosen = QString::fromStdString(answer->second);
      static_cast<QDialog&>(dlg).done(ok ? QDialog::Accepted : QDialog::Rejected);
    });
    dlg.exec();
  } else {
    ok = dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty();
    if (ok) chosen = dlg.selectedFiles().first();
  }
  // The window may have closed while the dialog ran.
  d = dialogDesc(*this);
  if (!ok || !d) return false;
  d->fileName = QFileInfo(withDefaultExt(chosen, d->defaultExt)).absoluteFilePath();
  // Without the keep flag the current folder follows the chosen file.
  if (!d->keepCurrentDir) QDir::setCurrent(QFileInfo(d->fileName).absolutePath());
  return true;
}

}  // namespace ui
