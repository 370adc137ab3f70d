#include "NSProgressBar.h"

#include <QPainter>

#include "Resources/UiColors.h"

void NSProgressBar::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), velmora::ui::colors::StripFill());
}
