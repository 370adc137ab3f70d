// The results browser's split view: the trees on the left, the file pane on
// the right. The first divider stays between 224 and 400 points from the
// left, any further one between 1500 and 5000; no side can be collapsed.
#pragma once

#include <QSplitter>

namespace velmora::browser {

class BrowserSplitView : public QSplitter {
    Q_OBJECT

public:
    static constexpr int kLeftMin = 224;
    static constexpr int kLeftMax = 400;
    static constexpr int kOtherMin = 1500;
    static constexpr int kOtherMax = 5000;

    explicit BrowserSplitView(QWidget* parent = nullptr);

    // Where a divider may go when asked for `proposed`.
    static int ConstrainCoordinate(int proposed, int dividerIndex);
    static bool CanCollapseSubview() { return false; }

    // Moves a divider (0 the first) as a drag would, within its limits.
    void moveDivider(int position, int dividerIndex);
    // The divider's distance from the left.
    int dividerPosition(int dividerIndex) const;

protected:
    void childEvent(QChildEvent* event) override;

private:
    void applyLimits();
};

}  // namespace velmora::browser
