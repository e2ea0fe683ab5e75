// Controls: the widgets built for each declared control type, their events
// and the properties read and written through Control handles.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/ui/ui_core.h"
#include "platform/ui/ui_testing.h"

namespace ui {
namespace detail {
namespace {

EventArgs mouseArgs(QMouseEvent* e) {
  QPoint p = e->position().toPoint();
  return EventArgs{p.x(), p.y(), keyState(e->modifiers())};
}

// Turns the mouse and focus events of a widget (or of its viewport) into the
// control's events. The widget keeps handling them as usual.
class EventRelay : public QObject {
 public:
  EventRelay(ControlDesc* c, QObject* parent, bool clickOnRelease)
      : QObject(parent), c_(c), clickOnRelease_(clickOnRelease) {}
  bool eventFilter(QObject* obj, QEvent* e) override {
    const auto& ev = c_->decl.events;
    switch (e->type()) {
      case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::LeftButton) fire(ev, "mouseDown", mouseArgs(me));
        if (me->button() == Qt::RightButton) fire(ev, "rightMouseDown", mouseArgs(me));
        break;
      }
      case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() != Qt::LeftButton) break;
        fire(ev, "mouseUp", mouseArgs(me));
        auto* w = qobject_cast<QWidget*>(obj);
        if (clickOnRelease_ && w && w->rect().contains(me->position().toPoint()))
          fire(ev, "click", mouseArgs(me));
        break;
      }
      case QEvent::MouseButtonDblClick: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::LeftButton) fire(ev, "doubleClick", mouseArgs(me));
        break;
      }
      case QEvent::MouseMove:
        fire(ev, "mouseMove", mouseArgs(static_cast<QMouseEvent*>(e)));
        break;
      case QEvent::FocusOut:
        fire(ev, "focusLost");
        break;
      default:
        break;
    }
    return false;
  }

 private:
  ControlDesc* c_;
  bool clickOnRelease_;
};

QString paintable(QString s) { return s.replace("\r\n", "\n").replace('\r', '\n'); }

// Plain and transparent labels: painted here so that the shadow, the
// alignment rules and the colour key come out exactly.
class FormLabel : public QWidget {
 public:
  FormLabel(const ControlDecl& d, QWidget* parent) : QWidget(parent), decl_(d) {
    caption = d.caption;
  }
  QString caption;
  QColor color = Qt::black;
  std::optional<QColor> background;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (background && decl_.type != "transparentLabel") {
      std::optional<QColor> key = colorKeyOf(this);
      if (key && key->rgb() == background->rgb()) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
      } else {
        p.fillRect(rect(), *background);
      }
    }
    Qt::Alignment h = decl_.alignment == "center"  ? Qt::AlignHCenter
                      : decl_.alignment == "right" ? Qt::AlignRight
                                                   : Qt::AlignLeft;
    p.setFont(font());
    const QColor pen = isEnabledTo(window()) ? color : QColor(128, 128, 128);
    if (decl_.wrap) {
      const Lines& lines = laidOut(h);
      if (decl_.shadow) {
        p.setPen(Qt::black);
        drawLines(p, lines, QPointF(2, 2));
      }
      // Only the label's own disabled state greys it: a window disabled under
      // a modal one keeps its captions in their colours.
      p.setPen(pen);
      drawLines(p, lines, QPointF(0, 0));
      return;
    }
    const QString text = paintable(caption);
    if (decl_.shadow) {
      p.setPen(Qt::black);
      drawLine(p, rect().translated(2, 2), h, text);
    }
    p.setPen(pen);
    drawLine(p, rect(), h, text);
  }

 private:
  // One line of text, every pixel of it inside the label where it fits: a
  // glyph that reaches beyond its own cell (a stroke left of its origin) is
  // moved in from the edge. A text wider than the label is drawn narrower
  // rather than cut: every character of a name or a number stays readable.
  // The ink is centred vertically, so that digits, which sit on the base
  // line, and Chinese characters, which fill the height, both stand in the
  // middle of the label.
  void drawLine(QPainter& p, const QRect& r, Qt::Alignment h, QString text) {
    text.replace('\n', ' ');
    if (text.isEmpty() || r.width() <= 0) return;
    const QFontMetricsF m(p.font());
    const double advance = m.horizontalAdvance(text);
    const QRectF ink = m.boundingRect(text);
    const QRectF tight = tightBounds(p.font(), text);
    const double first = std::min(0.0, ink.left());
    const double last = std::max(advance, ink.right());
    const double middle = r.top() + r.height() / 2.0;
    const double baseline = tight.height() > 0 ? middle - (tight.top() + tight.bottom()) / 2
                                               : middle - m.height() / 2 + m.ascent();
    if (last - first > r.width()) {
      p.save();
      const double scale = r.width() / (last - first);
      p.translate(r.left() - first * scale, 0);
      p.scale(scale, 1.0);
      drawText(p, QPointF(0, baseline), text);
      p.restore();
      return;
    }
    double x = (h & Qt::AlignHCenter) ? (r.width() - advance) / 2
               : (h & Qt::AlignRight) ? r.width() - advance
                                      : 0.0;
    x = std::clamp(x, -first, r.width() - last);
    drawText(p, QPointF(r.left() + x, baseline), text);
  }

  // Qt draws large text as outlines and then leaves out the bold it makes
  // up for a face without a bold style; such text is outlined here, with
  // the stroke the made-up bold would add.
  static void drawText(QPainter& p, const QPointF& origin, const QString& text) {
    const QFont f = p.font();
    const double stroke = drawnBoldStroke(f);
    if (stroke <= 0) {
      p.drawText(origin, text);
      return;
    }
    QPainterPath path;
    path.addText(origin, f, text);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = p.pen().color();
    p.fillPath(path, c);
    p.strokePath(path, QPen(c, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.restore();
  }

  // Wrapped text: each line of the caption wrapped to the label's width, the
  // lines stacked at the pitch of the font (see linePitch). Kept until the
  // caption, the font or the width change, as a scrolled label repaints often.
  struct Lines {
    QString text, fontKey;
    int width = -1;
    Qt::Alignment align;
    std::vector<std::unique_ptr<QTextLayout>> layouts;
  };
  const Lines& laidOut(Qt::Alignment h) {
    const QString key = font().key();
    if (lines_.text == caption && lines_.fontKey == key && lines_.width == width() &&
        lines_.align == h)
      return lines_;
    lines_.text = caption;
    lines_.fontKey = key;
    lines_.width = width();
    lines_.align = h;
    lines_.layouts.clear();
    const LinePitch lp = linePitch(font());
    QTextOption opt(h);
    opt.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList paragraphs = paintable(caption).split('\n');
    // A final line end closes the last line; it opens no empty one.
    if (!paragraphs.isEmpty() && paragraphs.last().isEmpty()) paragraphs.removeLast();
    double top = 0;
    for (const QString& para : paragraphs) {
      auto layout = std::make_unique<QTextLayout>(para, font(), this);
      layout->setTextOption(opt);
      layout->beginLayout();
      for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(width());
        line.setPosition(QPointF(0, top + lp.baseline - line.ascent()));
        top += lp.pitch;
      }
      layout->endLayout();
      if (layout->lineCount() == 0) top += lp.pitch;
      lines_.layouts.push_back(std::move(layout));
    }
    return lines_;
  }
  void drawLines(QPainter& p, const Lines& lines, QPointF offset) {
    const QRectF visible =
        QRectF(p.clipBoundingRect().isEmpty() ? QRectF(rect()) : p.clipBoundingRect())
            .translated(-offset);
    for (const auto& layout : lines.layouts) {
      const QRectF box = layout->boundingRect();
      if (box.bottom() < visible.top() || box.top() > visible.bottom()) continue;
      layout->draw(&p, offset);
    }
  }

  // The text's ink box, kept until the text or the font change: a scrolled
  // label repaints often, and measuring the ink of a long line is costly.
  QRectF tightBounds(const QFont& f, const QString& text) {
    const QString key = f.key();
    if (tight_.text != text || tight_.fontKey != key) {
      tight_.text = text;
      tight_.fontKey = key;
      tight_.box = QFontMetricsF(f).tightBoundingRect(text);
    }
    return tight_.box;
  }

  const ControlDecl& decl_;
  Lines lines_;
  struct {
    QString text, fontKey;
    QRectF box;
  } tight_;
};

// Picture box: the picture scaled to the box; a container of controls.
class PictureBox : public QWidget {
 public:
  using QWidget::QWidget;
  Bytes bytes;
  QImage image;
  std::optional<QColor> background;
  void setPicture(const Bytes& b) {
    bytes = b;
    image = decodePicture(b);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (background) p.fillRect(rect(), *background);
    if (!image.isNull()) p.drawImage(rect(), image);
  }
};

// Picture button: a face for normal, hot (mouse over) and pressed, and an
// optional text over it.
class PictureButton : public QAbstractButton {
 public:
  explicit PictureButton(QWidget* parent) : QAbstractButton(parent) { setAttribute(Qt::WA_Hover); }
  Bytes normalBytes;
  QImage normal, hot, pressed;
  QColor color = Qt::black;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QImage* face = &normal;
    if (isDown() && !pressed.isNull())
      face = &pressed;
    else if ((isDown() || underMouse()) && !hot.isNull())
      face = &hot;
    if (!face->isNull()) p.drawImage(rect(), *face);
    if (!text().isEmpty()) {
      p.setFont(font());
      // Only the label's own disabled state greys it: a window disabled under
      // a modal one keeps its captions in their colours.
      p.setPen(isEnabledTo(window()) ? color : QColor(128, 128, 128));
      p.drawText(rect(), Qt::AlignCenter, text());
    }
  }
  void enterEvent(QEnterEvent* e) override {
    update();
    QAbstractButton::enterEvent(e);
  }
  void leaveEvent(QEvent* e) override {
    update();
    QAbstractButton::leaveEvent(e);
  }
};

// The start of an edit field's text in view, unless the operator is in it.
void showFromStart(QLineEdit* e) {
  if (!e->hasFocus()) e->home(false);
}

// A one-line edit box that shows the start of its text when the operator is
// not in it, as after leaving it: an identity number longer than the box
// shows its first digits.
class FormLineEdit : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void focusOutEvent(QFocusEvent* e) override {
    QLineEdit::focusOutEvent(e);
    home(false);
  }
};

// The edit field of an editable combo box. The combo box takes a matching
// text for a choice of that item when the field finishes editing (focus
// leaving it, Return); `finishing` tells those moments from the operator's
// picks. While the operator is not in it, a text wider than the field is
// drawn narrower, so that a file name shows to its end.
class ComboEdit : public QLineEdit {
 public:
  explicit ComboEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this] {
      if (!hasFocus()) fitText();
    });
  }
  bool finishing = false;

 protected:
  void focusInEvent(QFocusEvent* e) override {
    setStretch(100);  // typed at the full width
    QLineEdit::focusInEvent(e);
  }
  void focusOutEvent(QFocusEvent* e) override {
    finishing = true;
    QLineEdit::focusOutEvent(e);
    finishing = false;
    fitText();
  }
  void resizeEvent(QResizeEvent* e) override {
    QLineEdit::resizeEvent(e);
    if (!hasFocus()) fitText();
  }
  void keyPressEvent(QKeyEvent* e) override {
    finishing = true;
    QLineEdit::keyPressEvent(e);
    finishing = false;
  }

 private:
  // The width the field gives its text: inside the frame and the margins,
  // less the cursor's pixel.
  double room() const {
    const QMargins m = textMargins();
    return contentsRect().width() - m.left() - m.right() - 2 * kLineEditMargin - 1;
  }
  void fitText() {
    QFont f = font();
    f.setStretch(100);
    int stretch = 100;
    const QString t = text();
    for (; stretch > kNarrowest; --stretch) {
      f.setStretch(stretch);
      if (QFontMetricsF(f).horizontalAdvance(t) <= room()) break;
    }
    setStretch(stretch);
    home(false);
  }
  void setStretch(int stretch) {
    const int now = font().stretch() == QFont::AnyStretch ? 100 : font().stretch();
    if (now == stretch) return;
    // Only the stretch is the field's own; the rest follows the combo box.
    QFont f;
    if (stretch != 100) f.setStretch(stretch);
    setFont(f);
  }
  static constexpr int kLineEditMargin = 2;  // Qt's own, each side of the text
  static constexpr int kNarrowest = 60;      // narrower is no longer readable
};

// A combo box whose dropped-down list is as wide as its widest item, so
// that a long file name reads whole there too.
class FormComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  void showPopup() override {
    QAbstractItemView* v = view();
    const int frame = 2 * v->frameWidth();
    const int bar = v->verticalScrollBar()->sizeHint().width();
    v->setMinimumWidth(std::max(width(), v->sizeHintForColumn(0) + frame + bar));
    QComboBox::showPopup();
  }
};

// Status bar: a row of text parts.
class StatusBar : public QFrame {
 public:
  StatusBar(const std::vector<int>& widths, QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(2);
    for (int w : widths) addPart(w);
    if (parts.empty()) addPart(-1);
  }
  void addPart(int width) {
    auto* l = new QLabel(this);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    if (width >= 0) l->setFixedWidth(width);
    static_cast<QHBoxLayout*>(layout())->addWidget(l, width >= 0 ? 0 : 1);
    parts.push_back(l);
  }
  std::vector<QLabel*> parts;
};

// List view in report mode. Rows appended by the program one at a time,
// with messages processed in between (the import preview), are held back and
// shown in batches: every time the tree shows new rows it lays out all of
// them, so showing each row as it comes would make filling a list quadratic.
// A held-back row is there at once for every read and write through the
// control; every other change of the rows shows the held-back ones first.
class FormListView : public QTreeWidget {
 public:
  explicit FormListView(QWidget* parent)
      : QTreeWidget(parent), showTimer_([this] { showPending(); }) {}
  ~FormListView() override { qDeleteAll(pending_); }

  int rowCount() const { return topLevelItemCount() + static_cast<int>(pending_.size()); }
  QTreeWidgetItem* row(int index) const {
    const int shown = topLevelItemCount();
    if (index < 0) return nullptr;
    if (index < shown) return topLevelItem(index);
    index -= shown;
    return index < pending_.size() ? pending_[index] : nullptr;
  }
  int append() {
    pending_.append(new QTreeWidgetItem());
    // The first rows show at once; later batches wait about ten times as long
    // as showing the last batch took, so the layouts take a bounded share of
    // the time however long the list grows.
    if (!showTimer_.isActive()) showTimer_.start(shownOnce_ ? nextDelayMs_ : 0);
    return rowCount() - 1;
  }
  void showPending() {
    showTimer_.stop();
    if (pending_.isEmpty()) return;
    QElapsedTimer took;
    took.start();
    QList<QTreeWidgetItem*> batch;
    batch.swap(pending_);
    addTopLevelItems(batch);
    doItemsLayout();
    shownOnce_ = true;
    nextDelayMs_ = static_cast<int>(std::clamp<qint64>(took.elapsed() * 10, 30, 1000));
  }
  void removeAll() {
    showTimer_.stop();
    qDeleteAll(pending_);
    pending_.clear();
    clear();
    shownOnce_ = false;
    nextDelayMs_ = 30;
  }

 private:
  QList<QTreeWidgetItem*> pending_;
  RuntimeTimer showTimer_;
  bool shownOnce_ = false;
  int nextDelayMs_ = 30;
};

// A declared font: the installed stand-ins of its face (platform fonts).
void applyFont(QWidget* w, const ControlDecl& d) {
  if (!d.font) return;
  w->setFont(formFont(w->font(), d.font->face, d.font->pixelHeight, d.font->bold));
}

void applyColors(QWidget* w, const ControlDecl& d) {
  QPalette pal = w->palette();
  if (d.color) {
    pal.setColor(QPalette::WindowText, *d.color);
    pal.setColor(QPalette::ButtonText, *d.color);
    pal.setColor(QPalette::Text, *d.color);
  }
  if (d.background) {
    pal.setColor(QPalette::Window, *d.background);
    pal.setColor(QPalette::Button, *d.background);
    pal.setColor(QPalette::Base, *d.background);
    w->setAutoFillBackground(true);
  }
  w->setPalette(pal);
}

QImage face(const ControlDecl& d, const char* name) {
  auto it = d.pictures.find(name);
  return it == d.pictures.end() ? QImage() : decodePicture(it->second);
}

Bytes faceBytes(const ControlDecl& d, const char* name) {
  auto it = d.pictures.find(name);
  return it == d.pictures.end() ? Bytes() : it->second;
}

// A group box's title; the look leaves room above the frame for a title
// only when there is one, so that an untitled box's lines are its edges.
void setGroupTitle(QGroupBox* g, const QString& title) {
  g->setTitle(title);
  const bool titled = !title.isEmpty();
  if (g->property("titled").toBool() == titled && g->property("titled").isValid()) return;
  g->setProperty("titled", titled);
  g->style()->unpolish(g);
  g->style()->polish(g);
  g->update();
}

// A disabled label lets the mouse through to what lies beneath it.
void setLabelEnabled(QWidget* w, bool on) {
  w->setEnabled(on);
  w->setAttribute(Qt::WA_TransparentForMouseEvents, !on);
}

QWidget* buildWidget(ControlDesc& c, QWidget* parent, QWidget* window) {
  const ControlDecl& d = c.decl;
  const std::string& t = d.type;
  QWidget* w = nullptr;
  QObject* mouseSource = nullptr;  // where the relay listens
  bool clickOnRelease = false;
  if (t == "label" || t == "transparentLabel") {
    auto* l = new FormLabel(c.decl, parent);
    if (d.color) l->color = *d.color;
    l->background = d.background;
    w = l;
    mouseSource = l;
    clickOnRelease = true;
  } else if (t == "pictureBox") {
    auto* p = new PictureBox(parent);
    p->background = d.background;
    p->setPicture(faceBytes(d, "picture"));
    w = p;
    mouseSource = p;
    clickOnRelease = true;
  } else if (t == "shapeBox") {
    auto* f = new QFrame(parent);
    f->setFrameShape(QFrame::NoFrame);
    w = f;
    mouseSource = f;
    clickOnRelease = true;
  } else if (t == "groupBox") {
    auto* g = new QGroupBox(parent);
    setGroupTitle(g, d.caption);
    w = g;
  } else if (t == "button") {
    auto* b = new QPushButton(d.caption, parent);
    QObject::connect(b, &QPushButton::clicked, b, [&c] { fire(c.decl.events, "click"); });
    w = b;
    mouseSource = b;
  } else if (t == "pictureButton") {
    auto* b = new PictureButton(parent);
    b->setText(d.caption);
    b->normalBytes = faceBytes(d, "normal");
    if (b->normalBytes.empty()) b->normalBytes = faceBytes(d, "picture");
    b->normal = decodePicture(b->normalBytes);
    b->hot = face(d, "hot");
    b->pressed = face(d, "pressed");
    if (d.color) b->color = *d.color;
    QObject::connect(b, &QAbstractButton::clicked, b, [&c] { fire(c.decl.events, "click"); });
    w = b;
  } else if (t == "checkBox") {
    auto* b = new QCheckBox(d.caption, parent);
    b->setChecked(d.checked);
    QObject::connect(b, &QCheckBox::clicked, b, [&c] { fire(c.decl.events, "click"); });
    w = b;
    mouseSource = b;
  } else if (t == "radioButton") {
    auto* b = new QRadioButton(d.caption, parent);
    // Exclusivity is kept for the user's clicks only, so that setting one
    // box from the program never clears another.
    b->setAutoExclusive(false);
    b->setChecked(d.checked);
    QObject::connect(b, &QRadioButton::clicked, b, [b, &c] {
      b->setChecked(true);
      if (QWidget* p = b->parentWidget())
        for (QRadioButton* other : p->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
          if (other != b) other->setChecked(false);
      fire(c.decl.events, "click");
    });
    w = b;
    mouseSource = b;
  } else if (t == "comboBox") {
    auto* cb = new FormComboBox(parent);
    ComboEdit* edit = nullptr;
    if (d.style == "edit") {
      edit = new ComboEdit(cb);
      cb->setLineEdit(edit);
    }
    cb->setInsertPolicy(QComboBox::NoInsert);
    cb->addItems(d.items);
    cb->setCurrentIndex(-1);
    if (edit) {
      // A text longer than the field shows its beginning, as a name is read
      // from its start, except while the operator edits it.
      QObject::connect(cb, &QComboBox::currentTextChanged, edit, [edit] {
        if (!edit->hasFocus()) edit->home(false);
      });
      cb->setEditText(d.caption);
    }
    // Raised once the choice is complete: the text already is the item's.
    // A text that merely matches an item when the edit field is left (the
    // list opening takes the focus from it) or Return is pressed is no choice.
    QObject::connect(cb, &QComboBox::activated, cb, [&c, edit](int) {
      if (edit && edit->finishing) return;
      fire(c.decl.events, "itemChosen");
    });
    w = cb;
    mouseSource = cb;
  } else if (t == "editBox") {
    if (d.multiline) {
      auto* e = new QPlainTextEdit(parent);
      e->setPlainText(d.caption);
      w = e;
    } else {
      auto* e = new FormLineEdit(d.caption, parent);
      showFromStart(e);
      w = e;
    }
    mouseSource = w;
  } else if (t == "checkList") {
    auto* l = new QListWidget(parent);
    for (const QString& s : d.items) {
      auto* item = new QListWidgetItem(s, l);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(Qt::Unchecked);
    }
    // Raised when the highlighted item changes, the one selectedIndex reports.
    QObject::connect(l, &QListWidget::itemSelectionChanged, l,
                     [&c] { fire(c.decl.events, "currentItemChanged"); });
    w = l;
    mouseSource = l->viewport();
    clickOnRelease = true;
    l->installEventFilter(new EventRelay(&c, l, false));  // focus
  } else if (t == "listView") {
    auto* tv = new FormListView(parent);
    tv->setRootIsDecorated(false);
    tv->setItemsExpandable(false);
    tv->setUniformRowHeights(true);
    tv->setAllColumnsShowFocus(true);
    tv->setSelectionMode(QAbstractItemView::SingleSelection);
    tv->setSelectionBehavior(QAbstractItemView::SelectRows);
    QStringList headers;
    for (auto& [caption, width] : d.columns) headers << caption;
    tv->setColumnCount(std::max<int>(1, static_cast<int>(d.columns.size())));
    tv->setHeaderLabels(headers);
    // Columns keep their declared widths; when they are wider than the list
    // together, a horizontal scroll bar shows the rest.
    tv->header()->setStretchLastSection(false);
    tv->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (size_t i = 0; i < d.columns.size(); ++i)
      tv->setColumnWidth(static_cast<int>(i), d.columns[i].second);
    QObject::connect(tv, &QTreeWidget::currentItemChanged, tv,
                     [&c] { fire(c.decl.events, "currentItemChanged"); });
    w = tv;
    mouseSource = tv->viewport();
    clickOnRelease = true;
    tv->installEventFilter(new EventRelay(&c, tv, false));  // focus
  } else if (t == "statusBar") {
    w = new StatusBar(d.parts, parent);
  } else if (t == "progressBar") {
    auto* pb = new QProgressBar(parent);
    pb->setRange(d.minimum, d.maximum);
    pb->setValue(d.position);
    pb->setTextVisible(false);
    w = pb;
  } else if (t == "slider") {
    auto* s = new QSlider(d.orientation == "vertical" ? Qt::Vertical : Qt::Horizontal, parent);
    s->setRange(d.minimum, d.maximum);
    s->setValue(d.position);
    s->setTickInterval(d.tickFrequency);
    s->setPageStep(d.pageStep);
    s->setSingleStep(d.lineStep);
    s->setInvertedAppearance(d.inverted);
    s->setInvertedControls(d.inverted);
    QSlider::TickPosition tp = QSlider::NoTicks;
    if (d.ticks == "both") tp = QSlider::TicksBothSides;
    if (d.ticks == "above" || d.ticks == "left") tp = QSlider::TicksAbove;
    if (d.ticks == "below" || d.ticks == "right") tp = QSlider::TicksBelow;
    s->setTickPosition(tp);
    s->setFocusPolicy(Qt::StrongFocus);
    // Moves by the user only: the program's writes block the signal.
    QObject::connect(s, &QSlider::valueChanged, s,
                     [&c] { fire(c.decl.events, "positionChanged"); });
    w = s;
    mouseSource = s;
  } else if (t == "splitter") {
    auto* f = new QFrame(parent);
    f->setFrameShape(d.height > d.width ? QFrame::VLine : QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    w = f;
  } else if (t == "timer") {
    auto* timer = new QTimer(window);
    timer->setInterval(d.interval);
    QObject::connect(timer, &QTimer::timeout, timer, [&c] { fire(c.decl.events, "tick"); });
    c.timer = timer;
    c.clockTimerOn = false;
    if (d.enabled && d.interval > 0) startFormTimer(c);
    return nullptr;
  } else if (t == "fileDialog") {
    c.dialogSave = d.dialogType == "save";
    c.filter = d.filter;
    c.defaultExt = d.defaultExt;
    c.fileName.clear();
    c.keepCurrentDir = false;
    return nullptr;
  } else {
    return nullptr;  // declared objects that show nothing
  }
  // A control's mouse events never reach the window beneath it.
  w->setAttribute(Qt::WA_NoMousePropagation);
  applyFont(w, d);
  if (t != "label" && t != "transparentLabel" && t != "pictureBox") applyColors(w, d);
  if (t == "label" || t == "transparentLabel")
    setLabelEnabled(w, d.enabled);
  else
    w->setEnabled(d.enabled);
  if (!d.focusable) w->setFocusPolicy(Qt::NoFocus);
  if (mouseSource) {
    mouseSource->installEventFilter(new EventRelay(&c, w, clickOnRelease));
    if (d.events.count("mouseMove")) {
      if (auto* mw = qobject_cast<QWidget*>(mouseSource)) mw->setMouseTracking(true);
    }
  }
  return w;
}

}  // namespace

void applyControlGeometry(ControlDesc& c) {
  if (!c.widget) return;
  c.widget->setGeometry(c.geo.left, c.geo.top, c.geo.width, c.geo.height);
  c.widget->setVisible(c.geo.visible);
}

void buildControls(WindowDesc& w) {
  QWidget* window = windowWidgetOf(w);
  for (auto& c : w.controls) {
    QWidget* parent = window;
    if (!c->decl.parent.empty()) {
      ControlDesc* p = w.control(c->decl.parent);
      if (p && p->widget) parent = p->widget;
    }
    c->widget = buildWidget(*c, parent, window);
    applyControlGeometry(*c);
  }
}

}  // namespace detail

using namespace detail;

namespace {
// The control's description when its window is open and the caller is on
// the user-interface thread; else nullptr (the property is then ignored).
ControlDesc* live(const Control& c) {
  ControlDesc* d = controlOrWarn(c.window(), c.name());
  if (!d || !onUiThread()) return nullptr;
  WindowDesc* w = findWindow(c.window());
  if (!w || !w->open) return nullptr;
  return d;
}
// The program's text in an editable combo box, shown from its beginning
// unless the operator is editing it.
void showEditText(QComboBox* c, const QString& text) {
  c->setEditText(text);
  if (QLineEdit* e = c->lineEdit()) showFromStart(e);
}
template <class T>
T* widgetAs(const Control& c) {
  ControlDesc* d = live(c);
  return d ? dynamic_cast<T*>(d->widget.data()) : nullptr;
}
}  // namespace

Control::Control(std::string window, std::string name)
    : window_(std::move(window)), name_(std::move(name)) {}

bool Control::exists() const { return findControl(window_, name_) != nullptr; }

#define CONTROL_GEO(getter, setter, field)                                \
  int Control::getter() const {                                           \
    ControlDesc* d = controlOrWarn(window_, name_);                       \
    return d ? d->geo.field.load() : 0;                                   \
  }                                                                       \
  void Control::setter(int v) {                                           \
    ControlDesc* d = controlOrWarn(window_, name_);                       \
    if (!d) return;                                                       \
    d->geo.field = v;                                                     \
    std::string wn = window_, cn = name_;                                 \
    onUi([wn, cn] {                                                       \
      if (ControlDesc* c = findControl(wn, cn)) applyControlGeometry(*c); \
    });                                                                   \
  }
CONTROL_GEO(left, setLeft, left)
CONTROL_GEO(top, setTop, top)
CONTROL_GEO(width, setWidth, width)
CONTROL_GEO(height, setHeight, height)
#undef CONTROL_GEO

bool Control::visible() const {
  ControlDesc* d = controlOrWarn(window_, name_);
  return d && d->geo.visible;
}

void Control::setVisible(bool v) {
  ControlDesc* d = controlOrWarn(window_, name_);
  if (!d) return;
  d->geo.visible = v;
  std::string wn = window_, cn = name_;
  onUi([wn, cn] {
    ControlDesc* c = findControl(wn, cn);
    if (c && c->widget) c->widget->setVisible(c->geo.visible);
  });
}

Text Control::caption() const {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return Text();
  QWidget* w = d->widget;
  if (auto* l = dynamic_cast<FormLabel*>(w)) return fromQt(l->caption);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return fromQt(b->text());
  if (auto* g = qobject_cast<QGroupBox*>(w)) return fromQt(g->title());
  return text();
}

void Control::setCaption(const Text& t) {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return;
  QWidget* w = d->widget;
  if (auto* l = dynamic_cast<FormLabel*>(w)) {
    l->caption = toQt(t);
    l->update();
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(toQt(t));
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    setGroupTitle(g, toQt(t));
  } else {
    setText(t);
  }
}

bool Control::enabled() const {
  ControlDesc* d = live(*this);
  if (!d) return false;
  if (d->timer) return formTimerActive(*d);
  return d->widget && d->widget->isEnabledTo(d->widget->window());
}

void Control::setEnabled(bool v) {
  ControlDesc* d = live(*this);
  if (!d) return;
  if (d->timer) {
    setTimerEnabled(v);
  } else if (d->widget) {
    if (dynamic_cast<FormLabel*>(d->widget.data()))
      setLabelEnabled(d->widget, v);
    else
      d->widget->setEnabled(v);
  }
}

bool Control::checked() const {
  auto* b = widgetAs<QAbstractButton>(*this);
  return b && b->isCheckable() && b->isChecked();
}

void Control::setChecked(bool v) {
  if (auto* b = widgetAs<QAbstractButton>(*this)) b->setChecked(v);
}

Bytes Control::picture() const {
  if (auto* p = widgetAs<PictureBox>(*this)) return p->bytes;
  if (auto* b = widgetAs<PictureButton>(*this)) return b->normalBytes;
  return Bytes();
}

void Control::setPicture(const Bytes& bytes) {
  if (auto* p = widgetAs<PictureBox>(*this)) {
    p->setPicture(bytes);
    if (!bytes.empty() && p->image.isNull())
      std::fprintf(stderr, "form runtime: the picture given to %s.%s cannot be decoded\n",
                   window_.c_str(), name_.c_str());
  } else if (auto* b = widgetAs<PictureButton>(*this)) {
    b->normalBytes = bytes;
    b->normal = decodePicture(bytes);
    b->update();
  }
}

void Control::setFontPoints(int points) {
  ControlDesc* d = live(*this);
  if (!d || !d->widget || points <= 0) return;
  // Points as the forms mean them, at 96 dots per inch, whatever the screen
  // reports: the slot widths are counted in pixels.
  QFont f = d->widget->font();
  f.setPixelSize(pointsToPixels(points));
  d->widget->setFont(f);
  d->widget->update();
}

void Control::setFocus() {
  ControlDesc* d = live(*this);
  if (d && d->widget) d->widget->setFocus(Qt::OtherFocusReason);
}

void Control::repaint() {
  ControlDesc* d = live(*this);
  if (d && d->widget) d->widget->repaint();
}

Text Control::text() const {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return Text();
  QWidget* w = d->widget;
  if (auto* e = qobject_cast<QLineEdit*>(w)) return fromQt(e->text());
  if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return fromQt(e->toPlainText());
  if (auto* c = qobject_cast<QComboBox*>(w)) return fromQt(c->currentText());
  if (dynamic_cast<FormLabel*>(w) || qobject_cast<QAbstractButton*>(w)) return caption();
  return Text();
}

void Control::setText(const Text& t) {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return;
  QWidget* w = d->widget;
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(toQt(t));
    showFromStart(e);
  } else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
    e->setPlainText(toQt(t));
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    if (c->isEditable()) {
      showEditText(c, toQt(t));
    } else {
      // A list without an edit field can only show one of its items.
      c->setCurrentIndex(c->findText(toQt(t), Qt::MatchExactly));
    }
  } else if (dynamic_cast<FormLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
    setCaption(t);
  }
}

void Control::addItem(const Text& t) {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return;
  if (auto* c = qobject_cast<QComboBox*>(d->widget)) {
    QString keep = c->currentText();
    c->addItem(toQt(t));
    if (c->isEditable()) showEditText(c, keep);
  } else if (auto* l = qobject_cast<QListWidget*>(d->widget)) {
    auto* item = new QListWidgetItem(toQt(t), l);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
}

void Control::clearItems() {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return;
  if (auto* c = qobject_cast<QComboBox*>(d->widget)) c->clear();
  if (auto* l = qobject_cast<QListWidget*>(d->widget)) l->clear();
}

int Control::itemCount() const {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return 0;
  if (auto* c = qobject_cast<QComboBox*>(d->widget)) return c->count();
  if (auto* l = qobject_cast<QListWidget*>(d->widget)) return l->count();
  return 0;
}

Text Control::itemText(int index) const {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return Text();
  if (auto* c = qobject_cast<QComboBox*>(d->widget))
    return index >= 0 && index < c->count() ? fromQt(c->itemText(index)) : Text();
  if (auto* l = qobject_cast<QListWidget*>(d->widget))
    return index >= 0 && index < l->count() ? fromQt(l->item(index)->text()) : Text();
  return Text();
}

int Control::selectedIndex() const {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return -1;
  if (auto* c = qobject_cast<QComboBox*>(d->widget)) return c->currentIndex();
  if (auto* l = qobject_cast<QListWidget*>(d->widget)) {
    // The highlighted item the operator sees. The list makes its first item
    // current, without highlighting it, when it receives the keyboard focus:
    // a current item alone is no choice.
    const QList<QListWidgetItem*> chosen = l->selectedItems();
    return chosen.isEmpty() ? -1 : l->row(chosen.first());
  }
  if (auto* t = qobject_cast<QTreeWidget*>(d->widget)) {
    QList<QTreeWidgetItem*> sel = t->selectedItems();
    return sel.isEmpty() ? -1 : t->indexOfTopLevelItem(sel.first());
  }
  return -1;
}

void Control::setSelectedIndex(int index) {
  ControlDesc* d = live(*this);
  if (!d || !d->widget) return;
  if (auto* c = qobject_cast<QComboBox*>(d->widget)) {
    if (index >= c->count()) index = c->count() - 1;
    if (index < 0) index = -1;
    c->setCurrentIndex(index);
  } else if (auto* l = qobject_cast<QListWidget*>(d->widget)) {
    if (index >= 0 && index < l->count()) {
      l->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    } else {
      l->clearSelection();
      l->setCurrentRow(-1);
    }
  } else if (qobject_cast<QTreeWidget*>(d->widget)) {
    selectRow(index);
  }
}

bool Control::itemChecked(int index) const {
  auto* l = widgetAs<QListWidget>(*this);
  return l && index >= 0 && index < l->count() && l->item(index)->checkState() == Qt::Checked;
}

int Control::position() const {
  if (auto* s = widgetAs<QSlider>(*this)) return s->value();
  if (auto* p = widgetAs<QProgressBar>(*this)) return p->value();
  return 0;
}

void Control::setPosition(int v) {
  if (auto* s = widgetAs<QSlider>(*this)) {
    QSignalBlocker block(s);
    s->setValue(std::clamp(v, s->minimum(), s->maximum()));
  } else if (auto* p = widgetAs<QProgressBar>(*this)) {
    p->setValue(std::clamp(v, p->minimum(), p->maximum()));
  }
}

int Control::minimum() const {
  if (auto* s = widgetAs<QSlider>(*this)) return s->minimum();
  if (auto* p = widgetAs<QProgressBar>(*this)) return p->minimum();
  return 0;
}

int Control::maximum() const {
  if (auto* s = widgetAs<QSlider>(*this)) return s->maximum();
  if (auto* p = widgetAs<QProgressBar>(*this)) return p->maximum();
  return 0;
}

void Control::setMaximum(int v) {
  if (auto* s = widgetAs<QSlider>(*this)) {
    QSignalBlocker block(s);
    s->setMaximum(std::max(v, s->minimum()));
  } else if (auto* p = widgetAs<QProgressBar>(*this)) {
    p->setMaximum(std::max(v, p->minimum()));
  }
}

void Control::removeAllRows() {
  if (auto* t = widgetAs<FormListView>(*this)) t->removeAll();
}

int Control::insertRow(int index, const Text& first) {
  auto* t = widgetAs<FormListView>(*this);
  if (!t) return -1;
  t->showPending();
  int count = t->topLevelItemCount();
  if (index < 0 || index > count) index = count;
  auto* item = new QTreeWidgetItem();
  item->setText(0, toQt(first));
  t->insertTopLevelItem(index, item);
  return index;
}

int Control::appendRow() {
  auto* t = widgetAs<FormListView>(*this);
  return t ? t->append() : -1;
}

void Control::setCell(int row, int column, const Text& text) {
  auto* t = widgetAs<FormListView>(*this);
  if (!t || column < 0 || column >= t->columnCount()) return;
  if (QTreeWidgetItem* item = t->row(row)) item->setText(column, toQt(text));
}

Text Control::cell(int row, int column) const {
  auto* t = widgetAs<FormListView>(*this);
  if (!t || column < 0 || column >= t->columnCount()) return Text();
  QTreeWidgetItem* item = t->row(row);
  return item ? fromQt(item->text(column)) : Text();
}

int Control::rowCount() const {
  auto* t = widgetAs<FormListView>(*this);
  return t ? t->rowCount() : 0;
}

int Control::columnCount() const {
  auto* t = widgetAs<FormListView>(*this);
  return t ? t->columnCount() : 0;
}

void Control::selectRow(int row) {
  auto* t = widgetAs<FormListView>(*this);
  if (!t) return;
  t->showPending();
  if (row < 0 || row >= t->topLevelItemCount()) {
    t->clearSelection();
    return;
  }
  QTreeWidgetItem* item = t->topLevelItem(row);
  t->setCurrentItem(item);
  item->setSelected(true);
  t->setFocus(Qt::OtherFocusReason);
}

int Control::findItem(const Text& text) const {
  auto* t = widgetAs<FormListView>(*this);
  if (!t) return -1;
  for (int i = 0; i < t->rowCount(); ++i)
    if (model::equalsIgnoreCase(fromQt(t->row(i)->text(0)), text)) return i;
  return -1;
}

void Control::ensureVisible(int row) {
  auto* t = widgetAs<FormListView>(*this);
  if (!t) return;
  t->showPending();
  if (QTreeWidgetItem* item = t->topLevelItem(row)) t->scrollToItem(item);
}

void Control::setStatusText(int part, const Text& text) {
  auto* s = widgetAs<StatusBar>(*this);
  if (!s || part < 0 || part > 255) return;
  while (static_cast<int>(s->parts.size()) <= part) s->addPart(-1);
  s->parts[static_cast<size_t>(part)]->setText(toQt(text));
}

void Control::setTimerEnabled(bool on) {
  ControlDesc* d = live(*this);
  if (!d || !d->timer) return;
  if (on && d->timer->interval() > 0)
    startFormTimer(*d);
  else
    stopFormTimer(*d);
}

void Control::setInterval(int ms) {
  ControlDesc* d = live(*this);
  if (!d || !d->timer) return;
  bool running = formTimerActive(*d);
  d->timer->setInterval(std::max(0, ms));
  // An interval of 0 stops the timer, as it never fires.
  if (ms <= 0)
    stopFormTimer(*d);
  else if (running)
    startFormTimer(*d);
}

namespace testing {
QWidget* controlWidget(const std::string& window, const std::string& control) {
  ControlDesc* c = findControl(window, control);
  return c ? c->widget.data() : nullptr;
}
}  // namespace testing

}  // namespace ui
