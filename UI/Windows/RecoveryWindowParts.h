// What the recovery windows (progress, finished, stopped) share: a small
// title-bar window with the program's name in its bar and a white content
// view placed in bottom-up points, and the destination folder link.
#pragma once

#include <QString>

#include "TopView/TCImageWindow.h"

class QLabel;
class QWidget;

namespace velmora::windows::recovery {

inline constexpr double kTitleBarHeight = 40;

struct SmallWindow {
    TCImageWindow* window = nullptr;
    QWidget* content = nullptr;
    QLabel* titleLabel = nullptr;
    int contentHeight = 0;
    // `w` at the bottom-up frame (x, y, width, height) of the content.
    void place(QWidget* w, double x, double y, double width, double height) const;
};

// The window (not deleted on close), its bar label at `titleX`.
SmallWindow MakeSmallWindow(const QString& objectName, int width, int contentHeight, double titleX);

// A label in `parent` with the text of `key`, wrapping when asked.
QLabel* KeyLabel(QWidget* parent, const QString& objectName, const QString& key, int points,
                 bool bold, bool wrap = false);

// `label` shows `path` as an underlined blue link with the path as its tool
// tip; an empty path leaves nothing to click.
void SetPathLink(QLabel* label, const QString& path);

void CentreOnScreen(QWidget* window);

}  // namespace velmora::windows::recovery
