#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPoint>
#include <QPointer>
#include <QRect>

// The push button of every form of the program. It never takes the keyboard focus, so pressing
// it leaves the focus on the control the user was typing in. It looks flat until the pointer is
// over it (thin raised frame), sunken while pressed; it can carry a picture beside its caption,
// show a grey picture while the pointer is elsewhere, drop down a menu instead of clicking, be
// the form's Enter (Default) or Esc (Cancel) button, and act as a sticky button in a group.
//
// The caption is QAbstractButton's text ("&" marks the accelerator letter, "&&" is one "&");
// clicked() is the click notification.
//
// Default and Cancel work in any window, QDialog included: while either is set the button
// watches the key presses that reach its window (the ones no focused control took, exactly
// those QDialog itself would act on), and answers Enter, respectively Esc, by clicking itself
// before the dialog sees the key. Connect clicked() to the dialog's OK or Cancel handler.
class TFlatButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(bool Default READ Default WRITE SetDefault)
  Q_PROPERTY(bool Cancel READ Cancel WRITE SetCancel)
  Q_PROPERTY(bool Down READ Down WRITE SetDown)
  Q_PROPERTY(int GroupIndex READ GroupIndex WRITE SetGroupIndex)
  Q_PROPERTY(bool AllowAllUp READ AllowAllUp WRITE SetAllowAllUp)

 public:
  enum TAlignment { taLeftJustify, taRightJustify, taCenter };
  Q_ENUM(TAlignment)
  enum TButtonLayout { blBitmapTop, blBitmapBottom, blBitmapLeft, blBitmapRight };
  Q_ENUM(TButtonLayout)
  enum TButtonOption { boMonoDisplay = 0x1, boIconOnly = 0x2, boPopupMark = 0x4 };
  Q_DECLARE_FLAGS(TButtonOptions, TButtonOption)
  Q_FLAG(TButtonOptions)
  enum TShadingType { stLight, stMedium, stDark };
  Q_ENUM(TShadingType)
  enum TBevelStyle { bvLowered, bvRaised };
  Q_ENUM(TBevelStyle)

  explicit TFlatButton(QWidget* parent = nullptr);
  explicit TFlatButton(const QString& caption, QWidget* parent = nullptr);
  ~TFlatButton() override;

  QString Caption() const { return text(); }
  void SetCaption(const QString& caption);

  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);
  TButtonLayout Layout() const { return layout_; }
  void SetLayout(TButtonLayout layout);

  // The top-left pixel's colour of each picture is its transparent colour. A picture with a
  // device pixel ratio above 1 takes its size in device-independent pixels.
  QImage Bitmap() const { return bitmap_; }
  void SetBitmap(const QImage& bitmap);
  // A picture drawn from `picture` (a scalable one such as an SVG icon) `size` device-independent
  // pixels large. It becomes the Bitmap, rendered at the device pixel ratio of the screen the
  // button is on and again whenever that ratio changes, so it stays sharp on a scaled screen.
  // SetBitmap drops it.
  void SetPicture(const QIcon& picture, const QSize& size = QSize(16, 16));
  QIcon Picture() const { return picture_; }
  QImage NoFocusBitmap() const { return no_focus_bitmap_; }
  void SetNoFocusBitmap(const QImage& bitmap);
  QImage DisabledBitmap() const { return disabled_bitmap_; }
  void SetDisabledBitmap(const QImage& bitmap);
  // The grey picture shown while the pointer is elsewhere (empty unless computed from Bitmap,
  // or from a finer rendering of the Picture).
  QImage GreyBitmap() const { return grey_bitmap_; }

  TButtonOptions Options() const { return options_; }
  void SetOptions(TButtonOptions options);
  TShadingType ShadingType() const { return shading_type_; }
  void SetShadingType(TShadingType type);
  TBevelStyle BevelStyle() const { return bevel_style_; }
  void SetBevelStyle(TBevelStyle style);
  QColor ShadowColor() const { return shadow_color_; }
  void SetShadowColor(const QColor& color);
  QColor UnselectedFontColor() const { return unselected_font_color_; }
  void SetUnselectedFontColor(const QColor& color);
  bool ShowDownPattern() const { return show_down_pattern_; }
  void SetShowDownPattern(bool show);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool wrap);

  // Sticky state: only a button with a group index can be down; one down button per group of
  // siblings (same parent, same index).
  bool Down() const { return down_; }
  void SetDown(bool down);
  int GroupIndex() const { return group_index_; }
  void SetGroupIndex(int index);
  bool AllowAllUp() const { return allow_all_up_; }
  void SetAllowAllUp(bool allow);

  // Shown on a left press instead of clicking; becomes none when the menu is destroyed.
  QMenu* DropDownMenu() const { return drop_down_menu_; }
  void SetDropDownMenu(QMenu* menu);

  bool Default() const { return default_; }
  void SetDefault(bool is_default);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool is_cancel);

  // Pointer over the button / left button went down on it and has not come up.
  bool IsHot() const { return hot_; }
  bool IsPressed() const { return pressed_; }

  // The grey version of `bitmap`: the top-left colour stays (it is the transparent colour),
  // every other pixel becomes white, `highlight`, `shadow` or black by its brightness and keeps
  // its opacity, so the smoothed edges of a drawn picture stay smooth.
  static QImage MakeGreyBitmap(const QImage& bitmap, TShadingType type, const QColor& highlight,
                               const QColor& shadow);
  // The caption with its accelerator markers removed ("&&" gives one "&").
  static QString StripAccelerators(const QString& caption);

  QSize sizeHint() const override;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Init();
  void UpdateGrey();
  void RenderPictureForScreen();
  void UpdateKeyWatch();
  void LeftDown();
  void LeftUp(bool over_button);
  void AfterMenu();
  void ReleaseOthersInGroup();
  QList<TFlatButton*> GroupSiblings() const;
  bool HandleDialogKey(int key);
  void PerformAccelerator();
  void UpdateIconOnlyHint(const QString& old_caption);
  void DrawPicture(QPainter& painter, const QPoint& at, const QImage& image) const;
  void DrawEmbossed(QPainter& painter, const QPoint& at, const QImage& image) const;

  // Where the parts of the face go, for the size, caption and picture of the moment.
  struct FaceLayout {
    bool has_picture = false;
    bool has_caption = false;
    bool has_mark = false;  // the drop-down mark
    int text_flags = 0;
    int picture_width = 0;
    int picture_height = 0;
    int caption_height = 0;
    QPoint picture_at;
    QRect caption_box;
  };
  void DrawFrame(QPainter& painter, bool raised) const;
  // The down pattern and the frame for the state of the moment; returns the picture that state
  // shows (the disabled, the no-focus or the grey one, or the picture itself).
  QImage DrawFaceAndFrame(QPainter& painter, bool sunk) const;
  FaceLayout LayOutFace(const QImage& picture) const;
  void DrawCaption(QPainter& painter, const FaceLayout& layout, bool sunk,
                   const QColor& color) const;
  void DrawDropMark(QPainter& painter, const FaceLayout& layout, bool sunk,
                    const QColor& color) const;

  TAlignment alignment_ = taCenter;
  TButtonLayout layout_ = blBitmapTop;
  QImage bitmap_;
  QIcon picture_;  // the source of bitmap_ when set through SetPicture
  QSize picture_size_;
  qreal picture_ratio_ = 0;  // the device pixel ratio bitmap_ was rendered for
  QImage no_focus_bitmap_;
  QImage disabled_bitmap_;
  QImage grey_bitmap_;
  TButtonOptions options_ = TButtonOptions(boMonoDisplay | boPopupMark);
  TShadingType shading_type_ = stMedium;
  TBevelStyle bevel_style_ = bvRaised;
  QColor shadow_color_;
  QColor unselected_font_color_;
  bool own_colors_ = false;  // set by the form: they no longer follow the palette
  bool show_down_pattern_ = true;
  bool word_wrap_ = false;
  bool down_ = false;
  int group_index_ = 0;
  bool allow_all_up_ = false;
  QPointer<QMenu> drop_down_menu_;
  bool default_ = false;
  bool cancel_ = false;
  bool hot_ = false;
  bool pressed_ = false;
  QPointer<QWidget> watched_window_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFlatButton::TButtonOptions)
