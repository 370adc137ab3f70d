// A tab of the results browser's trees: a title over the picture that marks
// the chosen tab ("bg_tab", "text_bg"); no picture name draws none.
#pragma once

#include <QAbstractButton>
#include <QColor>

namespace velmora::browser {

class BrowserTabButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit BrowserTabButton(QWidget* parent = nullptr);
    // " " and "" name no picture and clear it.
    void setImageName(const QString& name);
    const QString& imageName() const { return imageName_; }
    void setTitleColor(const QColor& color);
    const QColor& titleColor() const { return titleColor_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString imageName_;
    QColor titleColor_ = Qt::black;
};

}  // namespace velmora::browser
