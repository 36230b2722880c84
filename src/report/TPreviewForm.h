#pragma once

#include <QDialog>

class QIODevice;
class QMenu;
class QScrollArea;
class TFlatButton;
class PagePreview;
class TPopupHelp;

// The print preview: the recorded report one page at a time, zoomed in and out with the buttons
// or the mouse (left button in, any other out), paged with the four page buttons, which are
// hidden for a report of one page. The caption tells the page, the page count and the zoom. The
// window remembers its size; it cannot print.
class TPreviewForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPreviewForm(QWidget* parent = nullptr);
  ~TPreviewForm() override;

  // The recording to show; read when the window is first shown. Not owned.
  void SetStream(QIODevice* stream) { stream_ = stream; }

  // 1 = whole page, 2 = page width, any other value that percentage; applied at the first
  // activation.
  int InitialZoom = 1;
  bool FirstActivate = true;
  int ModalResult = 0;

  // The page caption for the page and zoom on show.
  QString PageCaption() const;

  // The magnifying-glass pointer of the page.
  static QCursor MagnifyCursor();

  void done(int result) override;

  // Controls, named as the tests find them.
  QScrollArea* ScrollBox1 = nullptr;
  PagePreview* PagePreview1 = nullptr;
  TFlatButton* ReturnButton = nullptr;
  TFlatButton* sbZoomIn = nullptr;
  TFlatButton* sbZoomOut = nullptr;
  TFlatButton* sbZoomPageWidth = nullptr;
  TFlatButton* sbZoomPage = nullptr;
  TFlatButton* zbZoom100 = nullptr;
  TFlatButton* sbFirstPage = nullptr;
  TFlatButton* sbPrevPage = nullptr;
  TFlatButton* sbNextPage = nullptr;
  TFlatButton* sbLastPAge = nullptr;
  TFlatButton* Helpbutton = nullptr;
  TFlatButton* MouseHelpButton = nullptr;
  TPopupHelp* PopupHelp1 = nullptr;
  QMenu* WhatsThisMenu = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormActivate();
  void FormClose();
  bool FormKeyDown(int key);
  void ScrollBox1MouseDown(Qt::MouseButton button);
  void PagePreview1PageChange();
  void PagePreview1ZoomChange();
  void ReturnButtonClick();
  void HelpbuttonClick();
  void MouseHelpButtonClick();

  QIODevice* stream_ = nullptr;
  bool closed_ = false;
};
