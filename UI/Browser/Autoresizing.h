// Controls that keep their place when their parent grows, as the browser's
// bars ask: a fixed distance to the parent's right edge (the left margin
// flexible), or a width that follows the parent's. The distances are those
// the control has when it is tracked (again after each move).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <vector>

namespace velmora::browser {

class Autoresizing : public QObject {
    Q_OBJECT
public:
    enum Mask { kFlexibleLeftMargin = 1, kFlexibleWidth = 2 };

    explicit Autoresizing(QObject* parent = nullptr) : QObject(parent) {}
    ~Autoresizing() override;

    // Notes the control's distance to its parent's right edge now.
    void track(QWidget* control, int mask);
    // Stops watching every parent (before the window goes away).
    void detach();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPointer<QWidget> control;
        int mask = 0;
        int rightMargin = 0;
    };
    void apply(const Entry& entry) const;

    std::vector<Entry> entries_;
    std::vector<QPointer<QWidget>> parents_;
};

}  // namespace velmora::browser
