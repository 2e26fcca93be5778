#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

class QCefWebView;

// A frameless secondary window showing one further page.
class PopWidget : public QWidget {
    Q_OBJECT
  public:
    // `viewKey`: the page's relative URL, under which page messages reach it.
    PopWidget(const QString& url, const QSize& size, QWidget* parent, const QString& viewKey);
    ~PopWidget() override;

    QString url() const { return url_; }
    QCefWebView* view() const { return view_; }

  signals:
    // The window became active: the main window makes it its current secondary window.
    void activated(PopWidget* popup);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QString url_;
    QSize size_;
    QCefWebView* view_;
};
