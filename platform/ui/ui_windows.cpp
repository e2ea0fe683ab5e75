// Windows: opening (modal and not), deferred destruction, stored geometry,
// state, caption, picture, layered styles and the pop-up menu.
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>

#include "platform/base/internal.h"
#include "platform/ui/ui_core.h"
#include "platform/ui/ui_testing.h"

namespace ui {
namespace detail {

class FormWindow;

namespace {
// The program's main window: the first window opened non-modal with a
// taskbar entry, while it is open. Every other window it has not been given
// a parent for belongs to it, so that window managers keep them above it.
QPointer<FormWindow> gMainWindow;
// The window that last had the keyboard focus.
QPointer<FormWindow> gLastActive;
// The window a dialog that just closed hands the focus back to, until a
// window is next made active.
QPointer<QWidget> gFocusReturn;
// The window that blocks a window from the operator: the open dialog, else,
// for a window disabled by a modal window, the innermost modal window.
QWidget* blockingWindow(const QWidget* blocked);
}  // namespace

// The top-level widget of an open window.
class FormWindow : public QWidget {
 public:
  explicit FormWindow(WindowDesc* desc) : desc_(desc) {
    setMouseTracking(true);
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Names the window to the window system (WM_WINDOW_ROLE on X11).
    setWindowRole(QString::fromStdString(desc->decl.name));
  }

  WindowDesc* desc() const { return desc_; }
  bool framed() const { return desc_->decl.border != "none" && desc_->decl.captionBar; }
  Bytes pictureBytes;
  QImage picture;
  bool created = false;               // the creation handler has run
  QPointer<FormWindow> parentWindow;  // the parent given when it was opened

  // The window this one stays above: its parent, else the main window.
  FormWindow* owner() const {
    if (parentWindow) return parentWindow;
    return gMainWindow && gMainWindow != this ? gMainWindow.data() : nullptr;
  }

  void setVisible(bool visible) override {
    // A window manager reads the owner when the window is mapped; the native
    // window may also have been made anew since the last showing.
    if (visible) applyOwner();
    // A window the window manager minimised along with the window it belongs
    // to keeps that state while hidden; shown with it, it would be mapped
    // minimised, and a window manager that minimises a window's owners with
    // it would minimise the main window again.
    if (visible && !isVisible() && (windowState() & Qt::WindowMinimized))
      setWindowState(windowState() & ~Qt::WindowMinimized);
    QWidget::setVisible(visible);
    // The platform makes the native window anew when it is shown after its
    // always-on-top changed, and the new one has no role of its own.
    if (visible) setWindowRole(QString::fromStdString(desc_->decl.name));
  }

  void applyOwner() {
    FormWindow* o = owner();
    if (!o) return;
    winId();
    o->winId();
    QWindow* ow = o->windowHandle();
    if (windowHandle() && ow && windowHandle()->transientParent() != ow)
      windowHandle()->setTransientParent(ow);
  }

  void setKeyed(bool on) {
    if (testAttribute(Qt::WA_TranslucentBackground) != on) {
      // The window system chooses a window's visual (with or without an
      // alpha channel) when the native window is made: a window already
      // made is made again with the new one.
      const bool made = testAttribute(Qt::WA_WState_Created) && windowHandle() != nullptr;
      const bool shown = isVisible();
      if (made) {
        hide();
        destroy(true, true);
      }
      setAttribute(Qt::WA_TranslucentBackground, on);
      setAttribute(Qt::WA_NoSystemBackground, on);
      if (made) {
        create();
        if (shown) show();
      }
    }
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    std::optional<QColor> key = desc_->colorKey;
    QColor bg = desc_->decl.background.value_or(palette().color(QPalette::Window));
    if (key) {
      p.setCompositionMode(QPainter::CompositionMode_Source);
      p.fillRect(rect(), bg.rgb() == key->rgb() ? QColor(Qt::transparent) : bg);
    } else {
      p.fillRect(rect(), bg);
    }
    if (!picture.isNull()) {
      if (key) {
        // Pixels of the key colour show what lies behind the window.
        QImage img = picture.convertToFormat(QImage::Format_ARGB32);
        QRgb k = key->rgb();
        for (int y = 0; y < img.height(); ++y) {
          auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
          for (int x = 0; x < img.width(); ++x)
            if ((line[x] | 0xff000000u) == (k | 0xff000000u)) line[x] = 0;
        }
        p.drawImage(rect(), img);
      } else {
        p.drawImage(rect(), picture);
      }
    }
  }

  void moveEvent(QMoveEvent*) override {
    if (!isVisible() && !created) return;
    // A window without a frame cannot be moved by the operator and stands
    // where the program put it. A window manager taking such a window in
    // may report a passing position (its corner in the new frame): that
    // must not become the stored one.
    if (framed()) {
      desc_->geo.left = x();
      desc_->geo.top = y();
    }
    if (created && pos() != lastPos_) {
      lastPos_ = pos();
      fire(desc_->decl.events, "moved");
    }
  }
  void resizeEvent(QResizeEvent*) override {
    desc_->geo.width = width();
    desc_->geo.height = height();
    if (created && size() != lastSize_) {
      lastSize_ = size();
      fire(desc_->decl.events, "resized");
    }
  }
  void changeEvent(QEvent* e) override {
    if (e->type() == QEvent::WindowStateChange && created) {
      fire(desc_->decl.events, "moved");
    } else if (e->type() == QEvent::ActivationChange && created) {
      if (isActiveWindow()) {
        if (!handFocusOn()) focusReturned();
        if (desc_->decl.takesFocus) gLastActive = this;
      }
      fire(desc_->decl.events, isActiveWindow() ? "activated" : "deactivated");
    }
    QWidget::changeEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    // The title bar's close: the same route as a destroy request.
    e->ignore();
    if (desc_->open && !desc_->closing) closeWindowNow(*desc_);
  }
  void mousePressEvent(QMouseEvent* e) override {
    EventArgs a = args(e);
    if (e->button() == Qt::LeftButton) fire(desc_->decl.events, "mouseDown", a);
    if (e->button() == Qt::RightButton) fire(desc_->decl.events, "rightMouseDown", a);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) fire(desc_->decl.events, "mouseUp", args(e));
  }
  void mouseMoveEvent(QMouseEvent* e) override { fire(desc_->decl.events, "mouseMove", args(e)); }

 public:
  void remember() {
    lastPos_ = pos();
    lastSize_ = size();
  }

 private:
  static EventArgs args(QMouseEvent* e) {
    QPoint p = e->position().toPoint();
    return EventArgs{p.x(), p.y(), keyState(e->modifiers())};
  }
  // A click on a window that a modal window or a dialog blocks makes it the
  // active window to the window manager, and keys typed next would go
  // nowhere: the focus goes back to the window that blocks it. A window that
  // takes no focus and gets it all the same hands it back to the window that
  // had it.
  bool handFocusOn() {
    QWidget* target = blockingWindow(this);
    if (!target && !desc_->decl.takesFocus && gLastActive && gLastActive->isVisible())
      target = gLastActive.data();
    if (!target || target == this) return false;
    QPointer<QWidget> t = target;
    QTimer::singleShot(0, qApp, [t] {
      if (!t || !t->isVisible()) return;
      t->raise();
      t->activateWindow();
    });
    return true;
  }

  // A window manager may give the focus to another window when a dialog
  // closes (to the main window, passing over a tool window the dialog
  // belonged to), after the program asked for it to go back: the first
  // window made active then hands it on to the dialog's own window.
  void focusReturned() {
    if (QApplication::activeModalWidget()) return;  // a dialog still shows
    QPointer<QWidget> back = gFocusReturn;
    gFocusReturn = nullptr;
    if (!back || back == this || !back->isVisible() || !back->isEnabled()) return;
    QTimer::singleShot(0, qApp, [back] {
      if (back && back->isVisible()) back->activateWindow();
    });
  }

  WindowDesc* desc_;
  QPoint lastPos_;
  QSize lastSize_;
};

QWidget* windowWidgetOf(WindowDesc& w) { return w.widget.data(); }

namespace {
// The innermost modal window that shows: the one its modal opening left
// enabled; nullptr when no modal window is open.
FormWindow* innermostModalWindow() {
  FormWindow* found = nullptr;
  std::lock_guard<std::mutex> lock(registryMutex());
  for (auto& [n, w] : registry())
    if (w->open && w->modalLoop && w->widget && w->widget->isEnabled() && w->widget->isVisible())
      found = w->widget.data();
  return found;
}

QWidget* blockingWindow(const QWidget* blocked) {
  if (QWidget* dialog = QApplication::activeModalWidget()) return dialog;
  return blocked->isEnabled() ? nullptr : innermostModalWindow();
}

// A window that can own a dialog now: shown, and not blocked by a modal one.
bool canOwn(const QWidget* w, const QWidget* dialog) {
  return w && w != dialog && w->isVisible() && w->isEnabled();
}
}  // namespace

QWidget* ownDialog(QWidget* dialog) {
  // The active window; when none is (the focus is still on its way back
  // from a dialog that just closed), the one that had the focus last.
  QWidget* owner = QApplication::activeWindow();
  if (!canOwn(owner, dialog)) owner = gLastActive.data();
  if (!canOwn(owner, dialog)) owner = nullptr;
  if (!owner) owner = innermostModalWindow();
  if (!owner) owner = gMainWindow.data();
  if (!owner) return nullptr;
  dialog->winId();
  owner->winId();
  if (dialog->windowHandle() && owner->windowHandle())
    dialog->windowHandle()->setTransientParent(owner->windowHandle());
  return owner;
}

DialogOwner::DialogOwner(QWidget* dialog) : owner_(ownDialog(dialog)) {}

DialogOwner::~DialogOwner() {
  // Without a window manager nobody hands the keyboard focus back when the
  // dialog goes, and keys would reach whatever lies under the pointer.
  if (owner_ && owner_->isVisible() && owner_->isEnabled()) {
    gFocusReturn = owner_.data();
    owner_->activateWindow();
  }
}

std::optional<QColor> colorKeyOf(QWidget* w) {
  auto* fw = dynamic_cast<FormWindow*>(w ? w->window() : nullptr);
  if (!fw) return std::nullopt;
  return fw->desc()->colorKey;
}

static Qt::WindowFlags flagsFor(const WindowDesc& w, bool onTop, bool modal) {
  // A modal window is a dialog to the window system: window managers keep
  // a dialog above the window it belongs to, and never lose it behind a
  // window that covers the screen.
  Qt::WindowFlags f = !w.decl.taskbar ? Qt::Tool : modal ? Qt::Dialog : Qt::Window;
  if (w.decl.border == "none" || !w.decl.captionBar) {
    f |= Qt::FramelessWindowHint;
  } else if (w.decl.border == "fixed") {
    f |= Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
         Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint;
  }
  if (onTop) f |= Qt::WindowStaysOnTopHint;
  if (!w.decl.takesFocus) f |= Qt::WindowDoesNotAcceptFocus;
  return f;
}

void applyWindowGeometry(WindowDesc& w) {
  FormWindow* fw = w.widget;
  if (!fw) return;
  QRect r(w.geo.left, w.geo.top, w.geo.width, w.geo.height);
  if (w.decl.border == "fixed") fw->setFixedSize(r.size());
  if (fw->pos() != r.topLeft()) fw->move(r.topLeft());
  if (fw->size() != r.size()) fw->resize(r.size());
  if (fw->created && fw->isVisible() != w.geo.visible) fw->setVisible(w.geo.visible);
}

static void closeQueued(const std::string& name) {
  WindowDesc* w = findWindow(name);
  if (w && w->open && !w->closing) closeWindowNow(*w);
}

void closeWindowNow(WindowDesc& w) {
  if (!w.open || w.closing) return;
  w.closing = true;
  fire(w.decl.events, "destroying");
  FormWindow* fw = w.widget;
  for (auto& c : w.controls) {
    c->widget = nullptr;
    c->timer = nullptr;
    c->fileName.clear();
    c->filter.clear();
    c->defaultExt.clear();
    c->keepCurrentDir = false;
    c->dialogSave = false;
  }
  w.widget = nullptr;
  w.colorKey.reset();
  w.open = false;
  if (fw && gMainWindow == fw) gMainWindow = nullptr;
  if (fw) {
    fw->created = false;  // no more events from the closing widget
    fw->hide();
    fw->deleteLater();
  }
  for (auto& other : w.disabledByModal)
    if (other) other->setEnabled(true);
  w.disabledByModal.clear();
  if (w.modalLoop) w.modalLoop->quit();
  w.closing = false;
  windowClosed();
}

}  // namespace detail

using namespace detail;

// --- Window -------------------------------------------------------------------------------------

Window::Window(std::string name) : name_(std::move(name)) {}

bool Window::exists() const { return findWindow(name_) != nullptr; }

bool Window::isOpen() const {
  WindowDesc* w = findWindow(name_);
  return w && w->open;
}

bool Window::open(bool modal, const Window* parent) {
  initRuntime();
  WindowDesc* w = windowOrWarn(name_);
  if (!w) return false;
  if (!onUiThread()) {
    std::fprintf(stderr, "form runtime: window \"%s\" opened off the user-interface thread\n",
                 name_.c_str());
    return false;
  }
  if (w->open) {
    if (w->widget) {
      w->widget->raise();
      w->widget->activateWindow();
    }
    return true;
  }
  auto* fw = new FormWindow(w);
  fw->setWindowFlags(flagsFor(*w, w->alwaysOnTop, modal));
  fw->setWindowTitle(w->decl.caption);
  fw->pictureBytes = w->decl.picture;
  fw->picture = decodePicture(w->decl.picture);
  w->widget = fw;
  w->open = true;
  w->colorKey = w->decl.colorKey;
  if (w->colorKey) fw->setKeyed(true);
  if (w->decl.alpha) fw->setWindowOpacity(*w->decl.alpha / 255.0);
  applyWindowGeometry(*w);
  fw->remember();
  buildControls(*w);
  if (parent) {
    WindowDesc* pw = findWindow(parent->name());
    if (pw && pw->widget) fw->parentWindow = pw->widget.data();
  } else if (modal) {
    // A modal window opened from inside another belongs to that one.
    fw->parentWindow = innermostModalWindow();
  } else if (w->decl.taskbar && !gMainWindow) {
    gMainWindow = fw;
  }
  fw->applyOwner();
  std::vector<QPointer<QWidget>> disabled;
  if (modal) {
    std::lock_guard<std::mutex> lock(registryMutex());
    for (auto& [n, other] : registry())
      if (other.get() != w && other->open && other->widget && other->widget->isEnabled()) {
        other->widget->setEnabled(false);
        disabled.emplace_back(other->widget.data());
      }
  }
  w->disabledByModal = disabled;
  fw->created = true;
  fire(w->decl.events, "created");
  // The creation handler may have closed the window or shown it already.
  if (!w->open || w->widget != fw) return true;
  fw->remember();
  if (w->geo.visible && !fw->isVisible()) fw->show();
  if (!modal) return true;
  QEventLoop loop;
  w->modalLoop = &loop;
  pushLoop(&loop);
  if (!quitting()) loop.exec();
  popLoop(&loop);
  if (findWindow(name_) == w) w->modalLoop = nullptr;
  return true;
}

void Window::destroy() {
  std::string name = name_;
  if (!findWindow(name)) {
    windowOrWarn(name);
    return;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  // Posted, so the request is carried out after the requesting handler
  // returns, in the order requests were made.
  QMetaObject::invokeMethod(
      app, [name] { closeQueued(name); }, Qt::QueuedConnection);
}

#define WINDOW_GEO(getter, setter, field)                         \
  int Window::getter() const {                                    \
    WindowDesc* w = windowOrWarn(name_);                          \
    return w ? w->geo.field.load() : 0;                           \
  }                                                               \
  void Window::setter(int v) {                                    \
    WindowDesc* w = windowOrWarn(name_);                          \
    if (!w) return;                                               \
    w->geo.field = v;                                             \
    std::string n = name_;                                        \
    onUi([n] {                                                    \
      if (WindowDesc* d = findWindow(n)) applyWindowGeometry(*d); \
    });                                                           \
  }
WINDOW_GEO(left, setLeft, left)
WINDOW_GEO(top, setTop, top)
WINDOW_GEO(width, setWidth, width)
WINDOW_GEO(height, setHeight, height)
#undef WINDOW_GEO

bool Window::visible() const {
  WindowDesc* w = windowOrWarn(name_);
  return w && w->geo.visible;
}

void Window::setVisible(bool v) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w) return;
  w->geo.visible = v;
  std::string n = name_;
  onUi([n] {
    WindowDesc* d = findWindow(n);
    if (d && d->widget) d->widget->setVisible(d->geo.visible);
  });
}

bool Window::alwaysOnTop() const {
  WindowDesc* w = windowOrWarn(name_);
  if (!w) return false;
  if (onUiThread() && w->widget) return w->widget->windowFlags() & Qt::WindowStaysOnTopHint;
  return w->alwaysOnTop;
}

void Window::setAlwaysOnTop(bool v) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w) return;
  w->alwaysOnTop = v;
  std::string n = name_;
  onUi([n] {
    WindowDesc* d = findWindow(n);
    if (!d || !d->widget) return;
    FormWindow* fw = d->widget;
    bool on = d->alwaysOnTop;
    Qt::WindowFlags flags = fw->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    if (flags != fw->windowFlags()) {
      if (QWindow* handle = fw->windowHandle()) {
        // Told to the window system in place: setting the widget's flags
        // would hide the window and show it anew, which loses the keyboard
        // focus and lets the window manager place it afresh.
        fw->overrideWindowFlags(flags);
        handle->setFlags(flags);
      } else {
        fw->setWindowFlags(flags);
      }
    }
    // Switching always-on-top on or off, even to the state it has, brings
    // the window to the top of its band (the headless platform has no
    // stacking).
    if (fw->isVisible() && QGuiApplication::platformName() != QLatin1String("offscreen"))
      fw->raise();
  });
}

int Window::state() const {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return kNormal;
  Qt::WindowStates s = w->widget->windowState();
  if (s & Qt::WindowMinimized) return kMinimized;
  if (s & Qt::WindowMaximized) return kMaximized;
  return kNormal;
}

void Window::setState(int s) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return;
  Qt::WindowStates st = s == kMinimized   ? Qt::WindowMinimized
                        : s == kMaximized ? Qt::WindowMaximized
                                          : Qt::WindowNoState;
  w->widget->setWindowState(st);
}

Text Window::caption() const {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return Text();
  return fromQt(w->widget->windowTitle());
}

void Window::setCaption(const Text& t) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return;
  w->widget->setWindowTitle(toQt(t));
}

Bytes Window::picture() const {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return Bytes();
  return w->widget->pictureBytes;
}

void Window::setPicture(const Bytes& b) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return;
  w->widget->pictureBytes = b;
  w->widget->picture = decodePicture(b);
  if (!b.empty() && w->widget->picture.isNull())
    std::fprintf(stderr, "form runtime: the picture given to window \"%s\" cannot be decoded\n",
                 name_.c_str());
  w->widget->update();
}

void Window::setLayeredColorKey(Rgb key) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return;
  w->colorKey = QColor(key.r, key.g, key.b);
  w->widget->setKeyed(true);
  w->widget->update();
  for (QWidget* child : w->widget->findChildren<QWidget*>()) child->update();
}

void Window::setLayeredAlpha(int alpha) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return;
  w->widget->setWindowOpacity(std::clamp(alpha, 0, 255) / 255.0);
}

namespace {
QPoint gLastPopup;

// The caption as a menu shows it: "&&" is "&", a lone "&" marks the mnemonic.
QString shownCaption(const QString& c) {
  QString out;
  for (int i = 0; i < c.size(); ++i) {
    if (c[i] == '&') {
      if (i + 1 < c.size() && c[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += c[i];
  }
  return out;
}

// Width of the icon band along the styled menu's left edge.
constexpr int kIconBand = 26;

// The styled menu's sheet: colours are background, text, highlight
// background, highlight text, separator and icon band. The band is the left
// part of the menu's background; bandShare is its share of the menu width.
QString menuSheet(const std::vector<QColor>& c, double bandShare) {
  auto hex = [&](int i) { return c[i].name(QColor::HexRgb); };
  QString band = QString::number(bandShare, 'f', 4);
  QString past = QString::number(std::min(1.0, bandShare + 0.0001), 'f', 4);
  return QString(
             "QMenu { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %6, "
             "stop:%7 %6, stop:%8 %1, stop:1 %1);\n"
             "  border: 1px solid %5; padding: 2px 0px 2px 4px; }\n"
             "QMenu::item { background: transparent; color: %2; padding: 4px 24px 4px 10px; }\n"
             "QMenu::item:selected { background: %3; color: %4; }\n"
             "QMenu::item:disabled { color: %5; }\n"
             "QMenu::separator { height: 1px; background: %5; margin: 3px 4px 3px %9px; }\n")
      .arg(hex(0), hex(1), hex(2), hex(3), hex(4), hex(5), band, past)
      .arg(kIconBand + 4);
}

// The window's menu style, if it declares one.
const ControlDecl* menuStyleOf(const WindowDesc& w) {
  for (const auto& c : w.controls)
    if (c->decl.type == "menuStyle") return &c->decl;
  return nullptr;
}
}  // namespace

void Window::popupMenu(int screenX, int screenY) {
  WindowDesc* w = windowOrWarn(name_);
  if (!w || !onUiThread() || !w->widget) return;
  QMenu menu(w->widget);
  const ControlDecl* style = menuStyleOf(*w);
  std::map<QAction*, std::string> handlers;
  // The items of the pop-up are the level-1 items under the first level-0 item.
  // The style's Nth icon belongs to the Nth level-1 item that is not a
  // separator, hidden ones counted, so hiding an item moves no icon.
  bool inside = false;
  int command = -1;
  for (const MenuItemDecl& item : w->decl.menu) {
    if (item.level == 1 && item.caption != "-") ++command;
    if (item.level == 0) {
      if (inside) break;
      inside = true;
      continue;
    }
    if (!inside || !item.visible) continue;
    if (item.caption == "-") {
      menu.addSeparator();
      continue;
    }
    QAction* a = menu.addAction(item.caption);
    a->setEnabled(item.enabled);
    if (style && command < static_cast<int>(style->menuIcons.size()))
      a->setIcon(QIcon(QPixmap::fromImage(decodePicture(style->menuIcons[command]))));
    handlers[a] = item.clickHandler;
  }
  if (handlers.empty()) return;
  if (style && style->menuColors.size() == 6) {
    // The band's share of the width is known once the items are laid out.
    menu.setStyleSheet(menuSheet(style->menuColors, 0));
    menu.ensurePolished();
    int width = std::max(1, menu.sizeHint().width() - 2);  // inside the border
    menu.setStyleSheet(menuSheet(style->menuColors, std::min(1.0, double(kIconBand) / width)));
  }
  QSize size = menu.sizeHint();
  QScreen* screen = QGuiApplication::screenAt(QPoint(screenX, screenY));
  if (!screen) screen = QGuiApplication::primaryScreen();
  QRect area = screen ? screen->geometry() : QRect(0, 0, 1 << 20, 1 << 20);
  int x = std::max(area.left(), std::min(screenX, area.right() + 1 - size.width()));
  int y = std::max(area.top(), std::min(screenY, area.bottom() + 1 - size.height()));
  gLastPopup = QPoint(x, y);
  QAction* chosen = nullptr;
  if (gScripting) {
    std::optional<Text> choice = DialogScript::nextMenuChoice();
    QTimer::singleShot(0, &menu, [&] {
      DialogScript::runDuringDialog();
      if (choice && !choice->empty())
        for (auto& [a, h] : handlers)
          if (a->isEnabled() && shownCaption(a->text()) == toQt(*choice)) chosen = a;
      menu.close();
    });
    menu.exec(gLastPopup);
  } else {
    chosen = menu.exec(gLastPopup);
  }
  if (!chosen || !handlers.count(chosen)) return;
  std::string handler = handlers[chosen];
  if (handler.empty()) return;
  // The command arrives as the next message, after the pop-up has gone.
  QMetaObject::invokeMethod(
      qApp,
      [handler] {
        if (Handler h = handlerFor(handler)) runHandler(h, EventArgs{});
      },
      Qt::QueuedConnection);
}

namespace testing {
QWidget* windowWidget(const std::string& window) {
  WindowDesc* w = findWindow(window);
  return w ? static_cast<QWidget*>(w->widget.data()) : nullptr;
}
QPoint lastPopupPosition() { return gLastPopup; }
}  // namespace testing

}  // namespace ui
