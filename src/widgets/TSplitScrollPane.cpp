#include "widgets/TSplitScrollPane.h"

#include <QVBoxLayout>

TSplitScrollPane::TSplitScrollPane(QWidget* parent) : QScrollArea(parent) {
  // The container draws the frames; a pane of its own would double them.
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(true);
  contents_ = new QWidget;
  contents_->setObjectName(QStringLiteral("Contents"));
  auto* layout = new QVBoxLayout(contents_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setWidget(contents_);
  // A pane may be squeezed to nothing by the bar; its contents must not hold it open.
  setMinimumSize(0, 0);
  // The pane is a container, not a control: Tab goes to the controls in it, never to the pane
  // itself, where the focus would be invisible and keys would do nothing.
  setFocusPolicy(Qt::NoFocus);
}

void TSplitScrollPane::AddControl(QWidget* control) {
  control->setParent(contents_);
  contents_->layout()->addWidget(control);
  control->show();
}

void TSplitScrollPane::SetAutoScroll(bool auto_scroll) {
  auto_scroll_ = auto_scroll;
  const Qt::ScrollBarPolicy policy = auto_scroll ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  setHorizontalScrollBarPolicy(policy);
  setVerticalScrollBarPolicy(policy);
}
