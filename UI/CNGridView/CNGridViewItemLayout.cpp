#include "CNGridViewItemLayout.h"

#include "CNGridViewPalette.h"
#include "Resources/FontRegistry.h"

CNGridViewItemLayout::CNGridViewItemLayout()
    : backgroundColor(CNGridViewPalette::itemBackgroundColor()),
      selectionRingColor(CNGridViewPalette::itemSelectionRingColor()),
      titleFont(velmora::ui::FontRegistry::Font(QStringLiteral("Helvetica"), 12)),
      titleColor(CNGridViewPalette::itemTitleColor()),
      titleShadowColor(CNGridViewPalette::itemTitleShadowColor()) {}
