#pragma once

#include <QWidget>

// The frameless top-level window base: its frame keeps a minimum size and follows the
// window's state.
class PsMainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PsMainWindow(QWidget* parent = nullptr);

    void setUpFrame();
    Qt::WindowStates lastWindowState() const { return lastState_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    bool tracking_ = false;
    Qt::WindowStates lastState_ = Qt::WindowNoState;
};
