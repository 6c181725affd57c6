// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qt_dialog.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

#include "platform/list_items.h"
#include "platform/qt/qimage_canvas.h"

namespace tavel::platform::qt {
namespace {

QString toQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A radio button that a click only ever checks: its group is kept exclusive
// by the dialog, so the program can also uncheck every button of a group
// (which Qt's own exclusive groups refuse). Without Qt's groups the arrow
// keys would leave the group; they move to the next button of the group
// and check it, as in any radio group.
class RadioButton : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;
  // The enabled button of the group after (or before) this one, or null.
  std::function<QAbstractButton*(bool forward)> neighbour;

 protected:
  void nextCheckState() override { setChecked(true); }
  void keyPressEvent(QKeyEvent* event) override {
    const int key = event->key();
    const bool forward = key == Qt::Key_Down || key == Qt::Key_Right;
    const bool backward = key == Qt::Key_Up || key == Qt::Key_Left;
    if ((forward || backward) && neighbour) {
      if (QAbstractButton* next = neighbour(forward)) {
        next->setFocus(Qt::OtherFocusReason);
        next->click();
      }
      event->accept();
      return;
    }
    QRadioButton::keyPressEvent(event);
  }
};

// A group box drawn as desktop dialogs draw it: the frame's top edge runs
// through the middle of the title, so controls placed just below the title
// (as resources do) stay clear of the line. Qt's styles put the frame under
// the whole title, where it would strike through them.
class GroupFrame : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QFontMetrics metrics(font());
    const QRect frame = rect().adjusted(0, metrics.height() / 2, -2, -2);
    // An etched line: dark, with a light one beside it.
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(frame);
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(frame.translated(1, 1));
    const QString text = title();
    if (text.isEmpty()) return;
    const int pad = metrics.averageCharWidth() / 2;
    const QRect label(metrics.averageCharWidth(), 0, metrics.horizontalAdvance(text) + 2 * pad,
                      metrics.height());
    p.fillRect(label, palette().color(QPalette::Window));
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(label, Qt::AlignCenter | Qt::TextSingleLine, text);
  }
};

// Resource editors name radio buttons "Radio1", "Radio2", ... when the
// author meant them to have no visible text.
bool placeholderText(const std::string& text) {
  static const QRegularExpression placeholder(QStringLiteral("^Radio\\d*$"));
  return placeholder.match(toQt(text)).hasMatch();
}

}  // namespace

struct QtDialog::Control {
  ControlSpec def;
  QWidget* widget = nullptr;
  DialogCallback callback;
  std::string text;  // shown text of buttons and labels
  // List boxes: the items in the program's order until shown.
  ListItems list;
};

DialogBaseUnits baseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits units;
  units.x = std::max(1, (letters / 26 + 1) / 2);
  units.y = std::max(1, metrics.height());
  return units;
}

QFont dialogFont(const DialogResource& resource) {
  QString family = resolveFontFamily(toQt(resource.fontFace));
  if (family.isEmpty()) family = resolveFontFamily(QStringLiteral("MS Sans Serif"));
  QFont font(family);
  font.setPointSize(resource.pointSize > 0 ? resource.pointSize : 8);
  return font;
}

QtDialog::QtDialog(const DialogResource& resource, QWidget* parent,
                   std::function<void()> beforeShow)
    : dialog_(std::make_unique<QDialog>(
          parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)),
      beforeShow_(std::move(beforeShow)) {
  build(resource);
}

QtDialog::~QtDialog() = default;

void QtDialog::build(const DialogResource& resource) {
  QDialog& d = *dialog_;
  d.setWindowTitle(toQt(resource.title));
  d.setModal(true);
  d.setFont(dialogFont(resource));
  units_ = baseUnitsOf(d.font());
  d.setFixedSize(units_.toPixelsX(resource.width), units_.toPixelsY(resource.height));
  // Closing by the close box or Escape: no control closed it.
  QObject::connect(&d, &QDialog::rejected, &d, [this] { closedBy_ = 0; });

  const int rowHeight = units_.toPixelsY(8);  // a list row is 8 dialog units
  std::vector<QWidget*> frames;
  for (const ControlSpec& def : resource.controls) {
    auto c = std::make_unique<Control>();
    c->def = def;
    if (def.kind != ControlKind::ListBox && def.kind != ControlKind::EditBox) c->text = def.text;
    Control* self = c.get();
    QRect place(units_.toPixelsX(def.x), units_.toPixelsY(def.y), units_.toPixelsX(def.width),
                units_.toPixelsY(def.height));
    QWidget* w = nullptr;
    switch (def.kind) {
      case ControlKind::PushButton:
      case ControlKind::DefaultPushButton: {
        auto* button = new QPushButton(toQt(def.text), &d);
        const bool closes = def.kind == ControlKind::DefaultPushButton || def.id == 1;
        if (def.kind == ControlKind::DefaultPushButton) button->setDefault(true);
        QObject::connect(button, &QPushButton::clicked, &d, [this, self, closes] {
          if (closes) {
            closedBy_ = self->def.id;
            dialog_->done(QDialog::Accepted);
          } else {
            fire(*self, kReasonClicked);
          }
        });
        w = button;
        break;
      }
      case ControlKind::GroupBox:
        w = new GroupFrame(toQt(def.text), &d);
        frames.push_back(w);
        break;
      case ControlKind::StaticText: {
        auto* label = new QLabel(toQt(def.text), &d);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = label;
        break;
      }
      case ControlKind::ListBox: {
        auto* list = new QListWidget(&d);
        list->setSelectionMode((def.style & kStyleMultiSelect)
                                   ? QAbstractItemView::MultiSelection
                                   : QAbstractItemView::SingleSelection);
        list->setVerticalScrollBarPolicy(
            (def.style & kStyleVerticalScroll) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setUniformItemSizes(true);
        list->setSortingEnabled(false);  // the dialog sorts, by listItemLess
        list->setProperty("rowHeight", rowHeight);
        QObject::connect(list, &QListWidget::itemSelectionChanged, &d, [this, self] {
          if (!showing_) takeSelection(*self);
        });
        w = list;
        break;
      }
      case ControlKind::RadioButton: {
        const bool hidden = placeholderText(def.text);
        auto* radio = new RadioButton(hidden ? QString() : toQt(def.text), &d);
        radio->setAutoExclusive(false);
        if (hidden) {
          radio->setAccessibleName(toQt(def.text));
          // The indicator needs its own height even where the resource
          // leaves less; keep it centred where the resource put it.
          QStyleOptionButton option;
          option.initFrom(radio);
          const int need =
              radio->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, &option, radio);
          if (place.height() < need) {
            place.adjust(0, -(need - place.height()) / 2, 0, 0);
            place.setHeight(need);
          }
          const int needX =
              radio->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, &option, radio);
          if (place.width() < needX) place.setWidth(needX);
        }
        QObject::connect(radio, &QRadioButton::clicked, &d, [this, self] {
          checkRadio(*self);
          fire(*self, kReasonClicked);
        });
        if (def.group != 0)
          radio->neighbour = [this, self](bool forward) { return radioNeighbour(*self, forward); };
        w = radio;
        break;
      }
      case ControlKind::CheckBox: {
        auto* box = new QCheckBox(toQt(def.text), &d);
        QObject::connect(box, &QCheckBox::clicked, &d,
                         [this, self] { fire(*self, kReasonClicked); });
        w = box;
        break;
      }
      case ControlKind::EditBox: {
        auto* edit = new QLineEdit(toQt(def.text), &d);
        w = edit;
        break;
      }
    }
    w->setGeometry(place);
    if (def.id >= 0) w->setObjectName(QString::number(def.id));
    c->widget = w;
    controls_.push_back(std::move(c));
  }
  // Frames are drawn under the controls they surround.
  for (QWidget* frame : frames) frame->lower();
}

QtDialog::Control* QtDialog::find(int id) {
  if (id < 0) return nullptr;
  for (auto& c : controls_)
    if (c->def.id == id) return c.get();
  return nullptr;
}

QWidget* QtDialog::control(int id) const {
  for (const auto& c : controls_)
    if (c->def.id == id && id >= 0) return c->widget;
  return nullptr;
}

// ---- values

int QtDialog::getInt(int id, int index) {
  Control* c = find(id);
  if (c == nullptr || c->def.kind != ControlKind::ListBox) return 0;
  if (index == kIndexValue) return c->list.count();
  return c->list.selectedPosition(index);
}

void QtDialog::setInt(int id, int value, int index) {
  Control* c = find(id);
  if (c == nullptr || c->def.kind != ControlKind::ListBox || index != kIndexValue) return;
  c->list.resize(value);
}

bool QtDialog::getLogical(int id, int index) {
  Control* c = find(id);
  if (c == nullptr) return false;
  if (index == kIndexEnable) return c->widget->isEnabledTo(dialog_.get());
  switch (c->def.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      return c->widget->isEnabledTo(dialog_.get());
    case ControlKind::RadioButton:
    case ControlKind::CheckBox:
      return static_cast<QAbstractButton*>(c->widget)->isChecked();
    default:
      return false;
  }
}

void QtDialog::setLogical(int id, bool value, int index) {
  Control* c = find(id);
  if (c == nullptr) return;
  if (index == kIndexEnable) {
    c->widget->setEnabled(value);
    return;
  }
  switch (c->def.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      c->widget->setEnabled(value);
      break;
    case ControlKind::RadioButton:
      if (value) {
        checkRadio(*c);
      } else {
        static_cast<QAbstractButton*>(c->widget)->setChecked(false);
      }
      break;
    case ControlKind::CheckBox:
      static_cast<QAbstractButton*>(c->widget)->setChecked(value);
      break;
    default:
      break;
  }
}

std::string QtDialog::getText(int id, int index) {
  Control* c = find(id);
  if (c == nullptr) return {};
  switch (c->def.kind) {
    case ControlKind::ListBox:
      return c->list.text(index);
    case ControlKind::EditBox:
      return static_cast<QLineEdit*>(c->widget)->text().toStdString();
    default:
      return c->text;
  }
}

void QtDialog::setText(int id, std::string_view text, int index) {
  Control* c = find(id);
  if (c == nullptr) return;
  const QString shown = toQt(text);
  switch (c->def.kind) {
    case ControlKind::ListBox:
      c->list.setText(index, text);
      return;
    case ControlKind::EditBox:
      static_cast<QLineEdit*>(c->widget)->setText(shown);
      return;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::CheckBox:
      static_cast<QAbstractButton*>(c->widget)->setText(shown);
      break;
    case ControlKind::RadioButton:
      if (!placeholderText(c->def.text)) static_cast<QAbstractButton*>(c->widget)->setText(shown);
      break;
    case ControlKind::GroupBox:
      static_cast<QGroupBox*>(c->widget)->setTitle(shown);
      break;
    case ControlKind::StaticText:
      static_cast<QLabel*>(c->widget)->setText(shown);
      break;
  }
  c->text = std::string(text);
}

void QtDialog::setCallback(int id, DialogCallback callback) {
  if (Control* c = find(id)) c->callback = std::move(callback);
}

// ---- behaviour

void QtDialog::checkRadio(Control& control) {
  for (auto& other : controls_) {
    if (other.get() != &control && other->def.kind == ControlKind::RadioButton &&
        control.def.group != 0 && other->def.group == control.def.group) {
      static_cast<QAbstractButton*>(other->widget)->setChecked(false);
    }
  }
  static_cast<QAbstractButton*>(control.widget)->setChecked(true);
}

QAbstractButton* QtDialog::radioNeighbour(const Control& from, bool forward) {
  std::vector<Control*> group;
  std::size_t at = 0;
  for (auto& c : controls_) {
    if (c->def.kind != ControlKind::RadioButton || c->def.group != from.def.group) continue;
    if (c.get() == &from) at = group.size();
    group.push_back(c.get());
  }
  // Round the group, as desktop radio groups do, skipping disabled buttons.
  const std::size_t n = group.size();
  for (std::size_t step = 1; step < n; ++step) {
    const std::size_t k = forward ? (at + step) % n : (at + n - step) % n;
    QWidget* w = group[k]->widget;
    if (w->isEnabled() && w->isVisibleTo(dialog_.get())) return static_cast<QAbstractButton*>(w);
  }
  return nullptr;
}

void QtDialog::takeSelection(Control& control) {
  auto* list = static_cast<QListWidget*>(control.widget);
  const std::size_t n = std::min<std::size_t>(control.list.items.size(), list->count());
  for (std::size_t i = 0; i < n; ++i)
    control.list.selected[i] = list->item(static_cast<int>(i))->isSelected();
  if (control.def.style & kStyleNotify) fire(control, kReasonSelectionChanged);
}

void QtDialog::fire(Control& control, int reason) {
  if (control.callback) {
    DialogCallback callback = control.callback;  // the callback may replace itself
    callback(*this, control.def.id, reason);
  }
  refresh();
}

void QtDialog::refresh() {
  for (auto& c : controls_)
    if (c->list.refresh(c->def.style & kStyleSorted)) showList(*c);
}

void QtDialog::showList(Control& control) {
  auto* list = static_cast<QListWidget*>(control.widget);
  const int rowHeight = list->property("rowHeight").toInt();
  showing_ = true;
  list->clear();
  for (std::size_t i = 0; i < control.list.items.size(); ++i) {
    // Names are blank padded to a fixed length; the padding is not shown.
    std::string_view text = control.list.items[i];
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    auto* item = new QListWidgetItem(toQt(text), list);
    item->setSizeHint(QSize(0, rowHeight));
    item->setSelected(control.list.selected[i]);
  }
  showing_ = false;
}

int QtDialog::runModal() {
  refresh();
  if (beforeShow_) beforeShow_();
  closedBy_ = 0;
  dialog_->exec();
  return closedBy_;
}

}  // namespace tavel::platform::qt
