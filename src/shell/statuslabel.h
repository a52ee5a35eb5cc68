// The status line: a one-line label that keeps the whole text (text()) but
// shows as much as fits, ending in "…", with the whole text in its tooltip
// and accessible description whenever it is cut.
#pragma once

#include <QLabel>
#include <QString>

namespace shell {

class StatusLabel final : public QLabel {
  Q_OBJECT
public:
  explicit StatusLabel(QWidget* parent = nullptr);

  // Sets the whole text and what tells it when it does not fit.
  void SetStatusText(const QString& text);
  // What is on screen: the text, elided to the label's width.
  QString ShownText() const;
  // The description screen readers give while the text fits.
  void SetDescription(const QString& description);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  void UpdateWholeTextHints();
  QString description_;
};

}  // namespace shell
