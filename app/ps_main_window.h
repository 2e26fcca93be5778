#pragma once

#include <QWidget>

class QMouseEvent;

// The edges of a `size` window that a point lies on within `border` pixels of them.
Qt::Edges resizeEdgesAt(const QPoint& point, const QSize& size, int border);

// The frameless top-level window base: its frame keeps a minimum size and follows the
// window's state, and a thin border around the content resizes it as a system frame would.
class PsMainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PsMainWindow(QWidget* parent = nullptr);

    void setUpFrame();
    Qt::WindowStates lastWindowState() const { return lastState_; }

    // The border around the content that resizes the window; none while it fills the screen.
    int resizeBorder() const;
    void setResizable(bool resizable);

  protected:
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // The content's place changed with the border.
    virtual void layOutContent() {}

  private:
    static constexpr int kResizeBorder = 4;
    bool tracking_ = false;
    bool resizable_ = true;
    Qt::WindowStates lastState_ = Qt::WindowNoState;
};
